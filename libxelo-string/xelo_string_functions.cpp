#include "xelo_string_functions.h"

#include <iomanip>

namespace XELO_String_Functions {

std::string bool2str(bool value)
{
    return value ? "true" : "false";
}

std::string num2str(double value, int width, char fill, int precision)
{
    std::ostringstream stream;
    if (width != 0)
        stream << std::setw(width);
    stream << std::setprecision(precision) << std::fixed << std::setfill(fill) << value;
    return stream.str();
}

std::string num2str(double value, int width)
{
    std::ostringstream stream;
    if (width != 0)
        stream << std::setfill('0') << std::setw(width);
    stream << value;
    return stream.str();
}

std::vector<std::string> tokenize(const std::string& str, const std::string& delimiters)
{
    std::vector<std::string> tokens;
    std::string::size_type start = str.find_first_not_of(delimiters, 0);
    std::string::size_type end = str.find_first_of(delimiters, start);
    while (start != std::string::npos || end != std::string::npos) {
        tokens.push_back(str.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = str.find_first_not_of(delimiters, end);
        end = str.find_first_of(delimiters, start);
    }
    return tokens;
}

}  // namespace XELO_String_Functions
