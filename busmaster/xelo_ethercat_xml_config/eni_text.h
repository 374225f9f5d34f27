#pragma once
// Reading of element and attribute texts for the ENI model: numbers in
// decimal or hexadecimal ("0x..." or "#x..."), truth values, byte strings
// and enumerated texts, each checked so that a misread value never reaches
// a slave. Every failure is a std::runtime_error naming the element.

#include <libxml++/libxml++.h>

#include <cstdint>
#include <initializer_list>
#include <list>
#include <string>
#include <vector>

#include "xelo_xml_parser.h"

class ENI_Text {
public:
    using XML = XELO_XML::XML_IO;

    // Text as a number: surrounding blanks ignored, empty text is 0, an
    // optional sign, "0x" or "#x" for hexadecimal (always hexadecimal when
    // hex_only). Throws unless the whole text is one number within [min, max].
    static long long number_ex(const std::string& text, const std::string& name, bool hex_only, long long min,
                               long long max);
    // A 32-bit field: -2147483648 up to 4294967295, kept as its bit pattern.
    static uint32_t bits32_ex(const std::string& text, const std::string& name, bool hex_only = false);
    // 0/1 (any other number true), true/false; empty text is false.
    static bool truth_ex(const std::string& text, const std::string& name);
    // Two hexadecimal digits per byte, first pair first; blanks ignored.
    static std::vector<unsigned char> bytes_ex(const std::string& text, const std::string& name);
    // Throws the error of a text that is none of the allowed ones.
    [[noreturn]] static void choice_ex(const std::string& name, const std::string& text,
                                       std::initializer_list<const char*> allowed);

    // The one element `name` below node (the XML layer's errors when it is
    // absent or repeated), converted as above.
    static std::string text_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static int32_t int32_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static uint32_t uint32_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static uint32_t hex_uint32_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    // A count or a time: 0 up to 2147483647; a negative number is refused.
    static int32_t count_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static bool optional_count_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, int32_t& value);
    // Any 64-bit number; the low 16 bits are kept.
    static uint16_t low16_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static uint64_t uint64_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static bool truth_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static std::vector<unsigned char> bytes_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);

    // An optional element: true when `name` occurs exactly once below node,
    // and then its text converted into value as the type of value says
    // (uint16_t keeps the low 16 bits of any number, uint32_t the 32-bit
    // pattern); value is left as it is otherwise. A record is read by its
    // setup.
    static bool optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, std::string& value);
    static bool optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, int32_t& value);
    static bool optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, uint32_t& value);
    static bool optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, uint16_t& value);
    static bool optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, bool& value);
    static bool optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node,
                            std::vector<unsigned char>& value);
    template <typename Record>
    static auto optional_ex(const XML& xml, const std::string& name, const xmlpp::Node* node, Record& record)
        -> decltype(record.setup(xml, node), bool())
    {
        const xmlpp::Node* element = unique(xml, name, node);
        if (element != nullptr)
            record.setup(xml, element);
        return element != nullptr;
    }
    // The element `name` when it occurs exactly once below node, else null.
    static const xmlpp::Node* unique(const XML& xml, const std::string& name, const xmlpp::Node* node);

    // Attributes of node itself.
    static int32_t int32_attribute_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static bool truth_attribute_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);

    // Every element `name` below node, in document order: its first word,
    // or the whole text converted.
    static std::list<std::string> words(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static std::list<int32_t> int32_list_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
    static std::list<uint32_t> uint32_list_ex(const XML& xml, const std::string& name, const xmlpp::Node* node);
};
