#include "rtde_interface.h"

#include <chrono>
#include <exception>
#include <stdexcept>
#include <thread>

#include "xelo_log.h"

namespace {
const char* const THREAD_NAME = "RTDE_THREAD";

uint32_t be32(const std::vector<uint8_t>& data, std::size_t at)
{
    return (static_cast<uint32_t>(data[at]) << 24) | (static_cast<uint32_t>(data[at + 1]) << 16) |
           (static_cast<uint32_t>(data[at + 2]) << 8) | data[at + 3];
}

// The output recipe of "RTDE_THREAD": each variable with the type asked for.
const std::vector<std::string> OUTPUT_NAMES{"runtime_state", "safety_status_bits", "robot_status_bits"};
const char* const OUTPUT_TYPE = "UINT32";

// Recipe id and three unsigned 32-bit values.
constexpr std::size_t PAYLOAD_SIZE = 13;

// Why the controller's reply to the output setup is no recipe of the names
// with their types ("" when it is).
std::string recipe_refusal(const std::vector<std::string>& names, const std::vector<std::string>& types)
{
    std::string unknown;
    std::string other;
    for (std::size_t i = 0; i < names.size() && i < types.size(); ++i) {
        if (types[i] == "NOT_FOUND")
            unknown += (unknown.empty() ? "" : ", ") + names[i];
        else if (types[i] != OUTPUT_TYPE)
            other += (other.empty() ? "" : ", ") + names[i] + " " + types[i];
    }
    if (!unknown.empty())
        return "variable not found: " + unknown;
    if (types.empty())
        return "variable not found: (no types in the reply)";
    if (!other.empty())
        return "type not asked for: " + other + " (" + OUTPUT_TYPE + " asked)";
    if (types.size() != names.size())
        return std::to_string(types.size()) + " types for " + std::to_string(names.size()) + " variables";
    return "";
}
}  // namespace

RtdeInterface::RtdeInterface(const std::string& address, int port, int frequency, bool verbose)
    : _frequency(frequency), m_con(address, port, verbose)
{
}

RtdeInterface::~RtdeInterface()
{
    if (m_thread.is_started()) {
        m_stopping.request();
        m_con.interrupt();
        try {
            m_thread.join_ex();
        } catch (const std::exception& e) {
            log_err(std::string("[rtde_interface] ") + e.what());
        }
    }
}

void RtdeInterface::set_function_pointer(ptrf function)
{
    m_ptrf = function;
}

bool RtdeInterface::create_recipe_in(const std::vector<std::string>& variables)
{
    return m_con.sendOutputSetup(variables, static_cast<double>(_frequency));
}

void RtdeInterface::create_recipe_out(const std::vector<std::string>& variables)
{
    m_con.sendInputSetup(variables);
}

void RtdeInterface::init()
{
    if (m_thread.is_started())
        throw std::runtime_error("[rtde_interface][init] : already running");
    m_con.connect();
    if (!m_con.negotiateProtocolVersion())
        throw std::runtime_error("[rtde_interface][init] : the controller refused RTDE protocol version 2");
    create_recipe_out({"input_int_register_0"});
    create_recipe_in({});
    const auto give_up = std::chrono::steady_clock::now() + m_start_limit;
    m_con.sendStart();
    while (!m_con.isStarted()) {
        if (std::chrono::steady_clock::now() >= give_up)
            throw std::runtime_error("[rtde_interface][start_rtde] : the controller refused to start RTDE for " +
                                     std::to_string(m_start_limit.count()) + " ms");
        m_con.sendStart();
        log_inf("[rtde_interface][start_rtde] : waiting for start...");
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    log_inf("[rtde_interface][start_rtde] : RTDE started!");
    try {
        m_thread.start_ex(&RtdeInterface::rtde_thread, this, THREAD_NAME);
    } catch (const Thread_Error&) {
        throw std::runtime_error(std::string("Failed to create operational thread: ") + THREAD_NAME);
    }
}

void* RtdeInterface::rtde_thread(void* self)
{
    static_cast<RtdeInterface*>(self)->run();
    return nullptr;
}

void RtdeInterface::run()
{
    try {
        const bool accepted = create_recipe_in(OUTPUT_NAMES);
        std::string refusal = recipe_refusal(OUTPUT_NAMES, m_con.getOutputTypes());
        if (!accepted && refusal.empty())
            refusal = "reply not understood";
        if (!refusal.empty()) {
            log_err("[rtde_interface][rtde_thread] : output recipe refused, " + refusal + "; reading stopped");
            return;
        }
        for (;;)
            cyclic_rtde_thread_fun();
    } catch (const std::exception& e) {
        if (!m_stopping.is_set())
            log_err(std::string("[rtde_interface][rtde_thread] : ") + e.what() + "; reading stopped");
    } catch (...) {
        if (!m_stopping.is_set())
            log_err("[rtde_interface][rtde_thread] : unknown exception; reading stopped");
    }
}

void RtdeInterface::cyclic_rtde_thread_fun()
{
    std::vector<uint8_t> payload = m_con.receiveData();
    if (payload.size() != PAYLOAD_SIZE) {
        log_err("[rtde_interface][cyclic_rtde_thread_fun] : data package of " + std::to_string(payload.size()) +
                " bytes, " + std::to_string(PAYLOAD_SIZE) + " expected: skipped");
        return;
    }
    // Another recipe's values would be read as the program and safety state.
    const uint8_t recipe = m_con.getOutputRecipeId();
    if (payload[0] != recipe) {
        log_err("[rtde_interface][cyclic_rtde_thread_fun] : data package of recipe " + std::to_string(payload[0]) +
                ", " + std::to_string(recipe) + " expected: skipped");
        return;
    }
    m_robot_program_status_pre = m_robot_program_status.load();
    const auto status = static_cast<Robot_Program_Status>(static_cast<int32_t>(be32(payload, 1)));
    m_robot_program_status = status;
    const bool running = (be32(payload, 9) & 0x2U) != 0;
    m_is_program_running = running;
    if (status != m_robot_program_status_pre)
        log_inf("[rtde_interface][cyclic_rtde_thread_fun] : Robot program status is: " +
                std::to_string(static_cast<int32_t>(status)) + " (is_running = " + (running ? "1" : "0") + ")");
    m_is_safeguard_active = (be32(payload, 5) & 0x10U) != 0;
    if (const ptrf function = m_ptrf.load())
        function();
}
