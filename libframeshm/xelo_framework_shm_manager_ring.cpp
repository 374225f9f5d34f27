// Data groups with a ring of slots: the writer appends snapshots of its
// local image, the reader steps through the slots of its copy of the ring,
// oldest first, and learns when the writer lapped it. Positions are 32-bit.

#include <cstring>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_log.h"

namespace {
constexpr std::size_t TICK_BYTES = 4;

uint32_t tick_at(const uint8_t* slot)
{
    uint32_t tick;
    std::memcpy(&tick, slot, TICK_BYTES);
    return tick;
}

void set_overlap(int8_t* overlap, int8_t value)
{
    if (overlap != nullptr)
        *overlap = value;
}
}  // namespace

// A position published by a writer, kept inside the ring.
uint32_t Framework_Shared_Memory_Manager::ring_position(int group_id, uint32_t post_id) const
{
    const uint32_t slots = ring_slots(group_id);
    return slots == 0 ? 0 : post_id % slots;
}

// Without a ring the image goes straight to the shared segment, unposted.
void Framework_Shared_Memory_Manager::insert_ring_buffer_slot_ex(int sem_group_id)
{
    check_sem_data_input_param_ex("insert_ring_buffer_slot_ex", SOURCE_FILE, __LINE__, sem_group_id, true, false, -1,
                                  -1, -1);
    const std::size_t g = static_cast<std::size_t>(sem_group_id);
    const uint32_t slots = ring_slots(sem_group_id);
    std::vector<uint8_t>& image = m_sem_data_group_data_vectors[g];
    if (slots == 0) {
        Robust_Mutex held(&group_record(sem_group_id).mutex, m_sem_data_group_mutex_names[g]);
        std::unique_lock<Robust_Mutex> lock(held);
        if (!image.empty())
            std::memcpy(m_shm_sem_group_data.data[g], image.data(), image.size());
        lock.unlock();
        return;
    }
    const uint32_t tick = own_absolute_tick();
    std::memcpy(image.data(), &tick, TICK_BYTES);
    uint32_t& write = m_sem_data_group_ring_buffer_writing_id[g];
    std::memcpy(m_sem_data_group_ring_buffer_data[g].data() + std::size_t{write} * image.size(), image.data(),
                image.size());
    write = write + 1 == slots ? 0 : write + 1;
}

// The slot before the read position still carrying the tick of the slot
// taken last means that nothing unread was overwritten. The tick is kept
// apart from the image, which a clear does not fill and the application may
// write.
bool Framework_Shared_Memory_Manager::get_ring_buffer_next_slot_ex(int sem_id, int8_t* overlap)
{
    check_sem_data_input_param_ex("get_ring_buffer_next_slot_ex", SOURCE_FILE, __LINE__, sem_id, false, false, -1, -1,
                                  -1);
    const uint32_t slots = ring_slots(sem_id);
    if (slots == 0)
        throw std::runtime_error("Sorry, sem_group is not a ring buffer");
    const std::size_t g = static_cast<std::size_t>(sem_id);
    const uint8_t* ring = m_sem_data_group_ring_buffer_data[g].data();
    const std::size_t slot_bytes = m_sem_data_group_data_vectors[g].size();
    uint32_t& read = m_sem_data_group_ring_buffer_reading_id[g];
    set_overlap(overlap, 0);

    if (!m_sem_data_group_ring_buffer_fisrt_post[g]) {
        m_sem_data_group_ring_buffer_fisrt_post[g] = true;
    } else {
        const uint32_t last = read == 0 ? slots - 1 : read - 1;
        if (tick_at(ring + std::size_t{last} * slot_bytes) != m_sem_data_group_ring_buffer_last_tick[g]) {
            // The writer lapped this reader: go on from the oldest slot.
            log_war("WARNING :: ring buffer overlap");
            set_overlap(overlap, 1);
            uint32_t oldest = 0;
            for (uint32_t k = 1; k < slots; ++k)
                if (tick_at(ring + std::size_t{k} * slot_bytes) < tick_at(ring + std::size_t{oldest} * slot_bytes))
                    oldest = k;
            read = oldest;
            take_ring_slot(sem_id);
            return true;
        }
    }
    if (read == m_sem_data_group_ring_buffer_writing_id[g])
        return false;
    take_ring_slot(sem_id);
    return true;
}

void Framework_Shared_Memory_Manager::take_ring_slot(int sem_id)
{
    const std::size_t g = static_cast<std::size_t>(sem_id);
    std::vector<uint8_t>& image = m_sem_data_group_data_vectors[g];
    uint32_t& read = m_sem_data_group_ring_buffer_reading_id[g];
    const uint8_t* slot = m_sem_data_group_ring_buffer_data[g].data() + std::size_t{read} * image.size();
    std::memcpy(image.data(), slot, image.size());
    m_sem_data_group_ring_buffer_last_tick[g] = tick_at(slot);
    read = read + 1 == ring_slots(sem_id) ? 0 : read + 1;
}

void Framework_Shared_Memory_Manager::clear_ring_buffer_ex(int sem_data_group_id)
{
    check_sem_data_input_param_ex("clear_ring_buffer_ex", SOURCE_FILE, __LINE__, sem_data_group_id, false, false, -1,
                                  -1, -1);
    if (ring_slots(sem_data_group_id) == 0)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][clear_ring_buffer] semaphorized data not "
            "ringbuffered :: '" +
            sem_data_group_name(sem_data_group_id) + "'");
    const std::size_t g = static_cast<std::size_t>(sem_data_group_id);
    Shared_Sem_Data_Group_Struct& group = group_record(sem_data_group_id);
    std::vector<uint8_t>& ring = m_sem_data_group_ring_buffer_data[g];
    uint32_t post_id;
    with_lock(Robust_Mutex(&group.mutex, m_sem_data_group_mutex_names[g]), [&] {
        std::memcpy(ring.data(), m_shm_sem_group_data.data[g], ring.size());
        post_id = group.ring_buffer_post_id;
    });
    const uint32_t position = ring_position(sem_data_group_id, post_id);
    const uint32_t before = position == 0 ? ring_slots(sem_data_group_id) - 1 : position - 1;
    m_sem_data_group_ring_buffer_reading_id[g] = position;
    m_sem_data_group_ring_buffer_writing_id[g] = position;
    m_sem_data_group_ring_buffer_last_tick[g] =
        tick_at(ring.data() + std::size_t{before} * m_sem_data_group_data_vectors[g].size());
}
