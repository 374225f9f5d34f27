#include "output_default.h"

#include <algorithm>
#include <cstring>

bool write_output_default(const Shared_Application_Data_Struct& record, uint8_t* image, std::size_t image_size)
{
    const std::size_t offset = record.byte_offs;
    const std::size_t dim = record.byte_dim;
    if (record.is_alias || image == nullptr || offset > image_size || dim > image_size - offset)
        return false;
    if (record.type == BIT_FSM) {
        if (dim == 0 || record.bit_offs > 7)
            return true;
        const bool value = (record.default_value[0] != 0) != (record.is_negated != 0);
        const uint8_t mask = static_cast<uint8_t>(1u << record.bit_offs);
        image[offset] =
            value ? static_cast<uint8_t>(image[offset] | mask) : static_cast<uint8_t>(image[offset] & ~mask);
        return true;
    }
    std::memcpy(image + offset, record.default_value, std::min<std::size_t>(dim, FRAMEWORK_DEFAULT_VALUE_SIZE));
    return true;
}
