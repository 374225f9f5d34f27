#include "eni_text.h"

#include <cctype>
#include <climits>
#include <stdexcept>

namespace {

bool blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

int digit_value(char c, unsigned base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

std::string error_text(const char* method, const std::string& name, const std::string& text, const std::string& what)
{
    return std::string("[ENI_Text][") + method + "] Error value : " + name + " => '" + text + "' " + what;
}

enum class Parse { NUMBER, NOT_A_NUMBER, OUT_OF_RANGE };

// The whole of text as one signed number that fits in 64 bits.
Parse parse_number(const std::string& text, bool hex_only, long long& value)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    value = 0;
    if (begin == end)
        return Parse::NUMBER;
    bool negative = false;
    if (text[begin] == '+' || text[begin] == '-') {
        negative = text[begin] == '-';
        ++begin;
    }
    unsigned base = hex_only ? 16 : 10;
    if (end - begin > 2 && (text[begin] == '0' || text[begin] == '#') &&
        (text[begin + 1] == 'x' || text[begin + 1] == 'X')) {
        base = 16;
        begin += 2;
    }
    if (begin == end)
        return Parse::NOT_A_NUMBER;
    unsigned long long magnitude = 0;
    bool overflow = false;
    for (std::size_t i = begin; i < end; ++i) {
        const int digit = digit_value(text[i], base);
        if (digit < 0)
            return Parse::NOT_A_NUMBER;
        if (magnitude > (ULLONG_MAX - static_cast<unsigned>(digit)) / base)
            overflow = true;
        else
            magnitude = magnitude * base + static_cast<unsigned>(digit);
    }
    const unsigned long long limit = negative ? static_cast<unsigned long long>(LLONG_MAX) + 1 : LLONG_MAX;
    if (overflow || magnitude > limit)
        return Parse::OUT_OF_RANGE;
    value = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
    return Parse::NUMBER;
}

}  // namespace

long long ENI_Text::number_ex(const std::string& text, const std::string& name, bool hex_only, long long min,
                              long long max)
{
    long long value = 0;
    const Parse result = parse_number(text, hex_only, value);
    if (result == Parse::NOT_A_NUMBER)
        throw std::runtime_error(error_text("number_ex", name, text, "is not a number!"));
    if (result == Parse::OUT_OF_RANGE || value < min || value > max)
        throw std::runtime_error(error_text("number_ex", name, text, "is out of range!"));
    return value;
}

uint32_t ENI_Text::bits32_ex(const std::string& text, const std::string& name, bool hex_only)
{
    return static_cast<uint32_t>(number_ex(text, name, hex_only, INT32_MIN, UINT32_MAX));
}

bool ENI_Text::truth_ex(const std::string& text, const std::string& name)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    const std::string word = text.substr(begin, end - begin);
    if (word == "true")
        return true;
    if (word == "false")
        return false;
    long long value = 0;
    const Parse result = parse_number(word, false, value);
    if (result == Parse::NOT_A_NUMBER)
        throw std::runtime_error(error_text("truth_ex", name, text, "is not a truth value!"));
    return result == Parse::OUT_OF_RANGE || value != 0;
}

std::vector<unsigned char> ENI_Text::bytes_ex(const std::string& text, const std::string& name)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() / 2);
    int high = -1;
    for (char c : text) {
        if (blank(c))
            continue;
        const int digit = digit_value(c, 16);
        if (digit < 0)
            throw std::runtime_error(error_text("bytes_ex", name, text, "is not a hexadecimal byte string!"));
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<unsigned char>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::runtime_error(error_text("bytes_ex", name, text, "has an odd number of hexadecimal digits!"));
    return bytes;
}

void ENI_Text::choice_ex(const std::string& name, const std::string& text, std::initializer_list<const char*> allowed)
{
    std::string list;
    for (const char* entry : allowed)
        list += (list.empty() ? "" : ", ") + std::string(entry);
    throw std::runtime_error(error_text("choice_ex", name, text, "is not one of " + list + "!"));
}

std::string ENI_Text::text_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return xml.get_element_text_ex(name, node);
}

int32_t ENI_Text::int32_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return static_cast<int32_t>(bits32_ex(text_ex(xml, name, node), name));
}

uint32_t ENI_Text::uint32_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return bits32_ex(text_ex(xml, name, node), name);
}

uint32_t ENI_Text::hex_uint32_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return bits32_ex(text_ex(xml, name, node), name, true);
}

int32_t ENI_Text::count_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return static_cast<int32_t>(number_ex(text_ex(xml, name, node), name, false, 0, INT32_MAX));
}

uint16_t ENI_Text::low16_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return static_cast<uint16_t>(number_ex(text_ex(xml, name, node), name, false, LLONG_MIN, LLONG_MAX) & 0xFFFF);
}

uint64_t ENI_Text::uint64_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return static_cast<uint64_t>(number_ex(text_ex(xml, name, node), name, false, 0, LLONG_MAX));
}

bool ENI_Text::truth_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return truth_ex(text_ex(xml, name, node), name);
}

std::vector<unsigned char> ENI_Text::bytes_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return bytes_ex(text_ex(xml, name, node), name);
}

int32_t ENI_Text::int32_attribute_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return static_cast<int32_t>(bits32_ex(xml.get_element_property_ex<std::string>(name, node), name));
}

bool ENI_Text::truth_attribute_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    return truth_ex(xml.get_element_property_ex<std::string>(name, node), name);
}

std::list<std::string> ENI_Text::words(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    std::list<std::string> values;
    for (const xmlpp::Node* found : xml.get_nodes_ex(name, node)) {
        const std::string text = text_ex(xml, ".", found);
        std::size_t begin = 0;
        while (begin < text.size() && blank(text[begin]))
            ++begin;
        std::size_t end = begin;
        while (end < text.size() && !blank(text[end]))
            ++end;
        values.push_back(text.substr(begin, end - begin));
    }
    return values;
}

std::list<int32_t> ENI_Text::int32_list_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    std::list<int32_t> values;
    for (const xmlpp::Node* found : xml.get_nodes_ex(name, node))
        values.push_back(static_cast<int32_t>(bits32_ex(text_ex(xml, ".", found), name)));
    return values;
}

std::list<uint32_t> ENI_Text::uint32_list_ex(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    std::list<uint32_t> values;
    for (const xmlpp::Node* found : xml.get_nodes_ex(name, node))
        values.push_back(bits32_ex(text_ex(xml, ".", found), name));
    return values;
}

const xmlpp::Node* ENI_Text::unique(const XML& xml, const std::string& name, const xmlpp::Node* node)
{
    const std::vector<xmlpp::Node*> found = xml.get_nodes_ex(name, node);
    return found.size() == 1 ? found.front() : nullptr;
}

namespace {

// The text of an element found once.
bool optional_text_ex(const XELO_XML::XML_IO& xml, const std::string& name, const xmlpp::Node* node, std::string& text)
{
    const xmlpp::Node* element = ENI_Text::unique(xml, name, node);
    if (element == nullptr)
        return false;
    text = ENI_Text::text_ex(xml, ".", element);
    return true;
}

}  // namespace

bool ENI_Text::optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, std::string& value)
{
    return optional_text_ex(xml, name, node, value);
}

bool ENI_Text::optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, int32_t& value)
{
    std::string text;
    if (!optional_text_ex(xml, name, node, text))
        return false;
    value = static_cast<int32_t>(bits32_ex(text, name));
    return true;
}

bool ENI_Text::optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, uint32_t& value)
{
    std::string text;
    if (!optional_text_ex(xml, name, node, text))
        return false;
    value = bits32_ex(text, name);
    return true;
}

bool ENI_Text::optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, uint16_t& value)
{
    std::string text;
    if (!optional_text_ex(xml, name, node, text))
        return false;
    value = static_cast<uint16_t>(number_ex(text, name, false, LLONG_MIN, LLONG_MAX) & 0xFFFF);
    return true;
}

bool ENI_Text::optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, bool& value)
{
    std::string text;
    if (!optional_text_ex(xml, name, node, text))
        return false;
    value = truth_ex(text, name);
    return true;
}

bool ENI_Text::optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node,
                           std::vector<unsigned char>& value)
{
    std::string text;
    if (!optional_text_ex(xml, name, node, text))
        return false;
    value = bytes_ex(text, name);
    return true;
}

bool ENI_Text::optional_count_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, int32_t& value)
{
    std::string text;
    if (!optional_text_ex(xml, name, node, text))
        return false;
    value = static_cast<int32_t>(number_ex(text, name, false, 0, INT32_MAX));
    return true;
}
