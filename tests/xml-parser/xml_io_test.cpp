#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "xelo_xml_parser.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using XELO_XML::XML_IO;

namespace {

template <typename Call>
std::string error_of(Call&& call)
{
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no exception";
}

class Xml_Io_Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/xml_io_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    std::string write_file(const std::string& name, const std::string& content) const
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path) << content;
        return path;
    }

    void load(const std::string& content) { m_xml.load_ex(write_file("doc.xml", content)); }

    std::string m_dir;
    XML_IO m_xml;
};

// ---- lookup ----------------------------------------------------------------

// Bare names are looked up without the XPath engine; they must select what
// XPath selects: child elements of that name in no namespace, in order.
TEST_F(Xml_Io_Test, BareNameSelectsWhatXPathSelects)
{
    load(
        "<root xmlns:p=\"urn:p\"><!-- a --><a>1</a>text<b/><a>2</a><p:a>3</p:a><c><a>4</a></c>"
        "<x-y.z>5</x-y.z><![CDATA[a]]><a xmlns=\"urn:d\">6</a></root>");
    for (const std::string name : {"a", "b", "c", "x-y.z", "absent", "comment", "text"}) {
        const std::vector<xmlpp::Node*> bare = m_xml.get_nodes_ex(name);
        const std::vector<xmlpp::Node*> xpath = m_xml.get_nodes_ex("child::" + name);
        EXPECT_EQ(bare, xpath) << name;
    }
    EXPECT_EQ(m_xml.get_nodes_ex("a").size(), 2u);
    const xmlpp::Node* c = m_xml.get_node_ex("c");
    EXPECT_EQ(m_xml.get_element_value_ex<int>("a", c), 4);
}

TEST_F(Xml_Io_Test, PathWithTwoMatchesIsNotUnique)
{
    load("<root><item>1</item><item>2</item><single>3</single></root>");
    EXPECT_TRUE(m_xml.has_element("item"));
    EXPECT_FALSE(m_xml.has_unique_element("item"));
    EXPECT_TRUE(m_xml.has_unique_element("single"));
    EXPECT_FALSE(m_xml.has_element("absent"));
    EXPECT_EQ(error_of([&] { m_xml.get_node_ex("item"); }),
              "Error element : item => not present in the xml file or is not unique!");
    EXPECT_EQ(error_of([&] { m_xml.assert_has_unique_element_ex("absent"); }),
              "Error element : absent => not present in the xml file or is not unique!");
    const std::vector<xmlpp::Node*> items = m_xml.get_nodes_ex("item");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(m_xml.get_element_value_ex<int>(".", items[0]), 1);
    EXPECT_EQ(m_xml.get_element_value_ex<int>(".", items[1]), 2);
    EXPECT_TRUE(m_xml.get_nodes_ex("absent").empty());
}

TEST_F(Xml_Io_Test, RelativePathsSearchBelowTheContextNode)
{
    load("<root><a><v>1</v></a><b><v>2</v></b></root>");
    const xmlpp::Node* b = m_xml.get_node_ex("b");
    EXPECT_EQ(m_xml.get_element_value_ex<int>("v", b), 2);
    EXPECT_EQ(m_xml.get_nodes_ex("//v").size(), 2u);
    EXPECT_FALSE(m_xml.has_unique_element("v"));
}

// ---- element text ----------------------------------------------------------

TEST_F(Xml_Io_Test, ElementTextFollowsTheOneChildRule)
{
    load(
        "<root><empty/><spaced>  a b  </spaced><commented><!--c-->12</commented>"
        "<nested><x/></nested><only_comment><!--note--></only_comment><cdata><![CDATA[<raw>]]></cdata></root>");
    EXPECT_EQ(m_xml.get_element_value_ex<std::string>("empty"), "");
    EXPECT_EQ(m_xml.get_element_value_ex<std::string>("spaced"), "  a b  ");
    EXPECT_EQ(m_xml.get_element_value_ch_ex("only_comment", std::dec), "note");
    EXPECT_EQ(m_xml.get_element_value_ex<std::string>("cdata"), "<raw>");
    EXPECT_EQ(error_of([&] { m_xml.get_element_value_ex<int>("commented"); }),
              "Error extraction value : multiple values 2 are present!");
    EXPECT_EQ(error_of([&] { m_xml.get_element_value_ex<std::string>("nested"); }), "Node not recognized!");
}

// The joined text of text and CDATA nodes, as exporters split a value; the
// one-child rule of the getters above stays as it is for their callers.
TEST_F(Xml_Io_Test, ElementTextJoinsTextAndCdataAndSkipsComments)
{
    load(
        "<root><empty/><plain> 12 </plain><blank_cdata> <![CDATA[EoE init, ip]]></blank_cdata>"
        "<pieces>a<![CDATA[<b>]]><!--skipped-->c</pieces><only_comment><!--note--></only_comment>"
        "<nested>1<x/>2</nested><only_element><y/></only_element><pi>1<?target data?></pi></root>");
    const struct {
        const char* name;
        const char* text;
    } cases[] = {{"empty", ""},
                 {"plain", " 12 "},
                 {"blank_cdata", " EoE init, ip"},
                 {"pieces", "a<b>c"},
                 {"only_comment", "note"}};
    for (const auto& c : cases)
        EXPECT_EQ(m_xml.get_element_text_ex(c.name), c.text) << c.name;
    EXPECT_EQ(m_xml.get_element_text_ex(".", m_xml.get_node_ex("pieces")), "a<b>c");

    const struct {
        const char* name;
        const char* error;
    } refused[] = {
        {"nested", "[XML_IO][get_element_text_ex] Error extraction value : nested => holds the element 'x'!"},
        {"only_element",
         "[XML_IO][get_element_text_ex] Error extraction value : only_element => holds the element 'y'!"},
        {"pi", "[XML_IO][get_element_text_ex] Error extraction value : pi => holds the node 'target'!"},
        {"absent", "Error element : absent => not present in the xml file or is not unique!"},
    };
    for (const auto& c : refused)
        EXPECT_EQ(error_of([&] { m_xml.get_element_text_ex(c.name); }), c.error) << c.name;

    // The getters of the descriptors keep the one-child rule.
    EXPECT_EQ(error_of([&] { m_xml.get_element_value_ex<std::string>("blank_cdata"); }),
              "Error extraction value : multiple values 2 are present!");
    EXPECT_EQ(error_of([&] { m_xml.get_element_value_ex<int>("pieces"); }),
              "Error extraction value : multiple values 4 are present!");
    EXPECT_EQ(error_of([&] { m_xml.get_element_value_ex<std::string>("only_element"); }), "Node not recognized!");
}

TEST_F(Xml_Io_Test, AttributePathGivesTheAttributeValue)
{
    load("<root><e name=\"value one\"/></root>");
    EXPECT_EQ(m_xml.get_element_value_ex<std::string>("e/@name"), "value one");
}

TEST_F(Xml_Io_Test, TypedElementValuesUseStreamExtraction)
{
    load(
        "<root><unit>100 mm</unit><hex>0x1A</hex><plain_hex>ff</plain_hex><word>abc</word>"
        "<zero>0</zero><one>1</one><seven>7</seven><true>true</true><big>18446744073709551615</big></root>");
    EXPECT_EQ(m_xml.get_element_value_ex<unsigned int>("unit"), 100u);
    EXPECT_EQ(m_xml.get_element_value_ex<unsigned int>("hex", std::hex), 26u);
    EXPECT_EQ(m_xml.get_element_value_ex<int>("plain_hex", std::hex), 255);
    EXPECT_EQ(m_xml.get_element_value_ex<int>("hex"), 0);  // decimal stops at the x
    EXPECT_EQ(m_xml.get_element_value_ex<int>("word"), 0);
    EXPECT_EQ(m_xml.get_element_value_ex<unsigned long long>("big"), 18446744073709551615ull);
    EXPECT_FALSE(m_xml.get_element_value_ex<bool>("zero"));
    EXPECT_TRUE(m_xml.get_element_value_ex<bool>("one"));
    EXPECT_TRUE(m_xml.get_element_value_ex<bool>("seven"));
    EXPECT_FALSE(m_xml.get_element_value_ex<bool>("true"));
}

// The conversion stream is reused: a hexadecimal read must not leak into the
// next decimal one.
TEST_F(Xml_Io_Test, BaseOfOneReadDoesNotCarryOver)
{
    load("<root><v>10</v></root>");
    EXPECT_EQ(m_xml.get_element_value_ex<int>("v", std::hex), 16);
    EXPECT_EQ(m_xml.get_element_value_ex<int>("v"), 10);
}

TEST_F(Xml_Io_Test, ListOfValuesInDocumentOrder)
{
    load("<root><n>3</n><n>0x10</n><n/><n>  7 up</n><s>first second</s><s/></root>");
    EXPECT_THAT(m_xml.get_elements_values_ex<int>("n"), ElementsAre(3, 0, 0, 7));
    EXPECT_THAT(m_xml.get_elements_values_ex<unsigned int>("n", std::hex), ElementsAre(3u, 16u, 0u, 7u));
    EXPECT_THAT(m_xml.get_elements_values_ex<std::string>("s"), ElementsAre("first", ""));
    EXPECT_TRUE(m_xml.get_elements_values_ex<int>("absent").empty());
}

TEST_F(Xml_Io_Test, HexByteArrayHonoursByteOrder)
{
    load("<root><a>0102</a><b>0A1b</b><odd>ABC</odd><empty/><spaced>01 0203</spaced><bad>G11G</bad></root>");
    const auto little = XML_IO::LITTLE_ENDIAN_FORMAT;
    const auto big = XML_IO::BIG_ENDIAN_FORMAT;
    EXPECT_THAT(m_xml.get_element_hex_byte_array_value_ex("a", nullptr, little), ElementsAre(0x01, 0x02));
    EXPECT_THAT(m_xml.get_element_hex_byte_array_value_ex("a", nullptr, big), ElementsAre(0x02, 0x01));
    EXPECT_THAT(m_xml.get_element_hex_byte_array_value_ex("b", nullptr, little), ElementsAre(0x0A, 0x1B));
    EXPECT_THAT(m_xml.get_element_hex_byte_array_value_ex("b", nullptr, big), ElementsAre(0x1B, 0x0A));
    EXPECT_THAT(m_xml.get_element_hex_byte_array_value_ex("odd", nullptr, little), ElementsAre(0xAB));
    EXPECT_TRUE(m_xml.get_element_hex_byte_array_value_ex("empty", nullptr, little).empty());
    // Seven characters give three bytes; blanks are skipped while reading.
    EXPECT_THAT(m_xml.get_element_hex_byte_array_value_ex("spaced", nullptr, little), ElementsAre(0x01, 0x02, 0x03));
    EXPECT_THAT(m_xml.get_element_hex_byte_array_value_ex("bad", nullptr, little), ElementsAre(0x00, 0x01));
    EXPECT_EQ(error_of([&] { m_xml.get_element_hex_byte_array_value_ex("absent", nullptr, little); }),
              "Error element : absent => not present in the xml file or is not unique!");
}

TEST_F(Xml_Io_Test, SettingElementTextReplacesOrAddsTheText)
{
    load("<root><a>old</a><b/></root>");
    auto* a = dynamic_cast<xmlpp::Element*>(m_xml.get_node_ex("a"));
    auto* b = dynamic_cast<xmlpp::Element*>(m_xml.get_node_ex("b"));
    m_xml.set_element_value_ex<std::string>("new", a, std::dec);
    m_xml.set_element_value_ex<std::string>("added", b, std::dec);
    EXPECT_EQ(m_xml.get_element_value_ex<std::string>("a"), "new");
    EXPECT_EQ(m_xml.get_element_value_ex<std::string>("b"), "added");
}

// ---- attributes ------------------------------------------------------------

TEST_F(Xml_Io_Test, TypedAttributesOfTheContextNode)
{
    load("<root><input type=\"uint16 extra\" n=\"-5\" idx=\"6041\" f=\"2.5\" blank=\" \" flag=\"2\"/></root>");
    const xmlpp::Node* input = m_xml.get_node_ex("input");
    EXPECT_EQ(m_xml.get_element_property_ex<std::string>("type", input), "uint16");
    EXPECT_EQ(m_xml.get_element_property_ex<std::string>("blank", input), "");
    EXPECT_EQ(m_xml.get_element_property_ex<int>("n", input), -5);
    EXPECT_EQ(m_xml.get_element_property_ex<short>("n", input), -5);
    EXPECT_EQ(m_xml.get_element_property_ex<long long>("n", input), -5);
    EXPECT_EQ(m_xml.get_element_property_ex<unsigned int>("idx", std::hex, input), 0x6041u);
    EXPECT_FLOAT_EQ(m_xml.get_element_property_ex<float>("f", input), 2.5f);
    EXPECT_DOUBLE_EQ(m_xml.get_element_property_ex<double>("f", input), 2.5);
    EXPECT_TRUE(m_xml.get_element_property_ex<bool>("flag", input));
    EXPECT_EQ(error_of([&] { m_xml.get_element_property_ex<std::string>("missing", input); }),
              "Property :missing not present in node : input");
    // No context node: the root element itself.
    EXPECT_EQ(error_of([&] { m_xml.get_element_property_ex<int>("type"); }),
              "Property :type not present in node : root");
}

TEST_F(Xml_Io_Test, PropertyPresenceChecks)
{
    load("<root><e a=\"1\" b=\"x\"/><d/><d/></root>");
    const xmlpp::Node* e = m_xml.get_node_ex("e");
    EXPECT_TRUE(m_xml.has_property("a", e));
    EXPECT_FALSE(m_xml.has_property("A", e));
    EXPECT_TRUE(m_xml.has_property("b", "e"));
    EXPECT_FALSE(m_xml.assert_has_property_ex("a", "e"));
    EXPECT_FALSE(m_xml.assert_has_property_ex("a", e));
    EXPECT_EQ(error_of([&] { m_xml.assert_has_property_ex("c", "e"); }), "Error property : c => not present in e!");
    EXPECT_EQ(error_of([&] { m_xml.assert_has_property_ex("c", e); }), "Error property : c => not present!");
    EXPECT_EQ(error_of([&] { m_xml.has_property("a", "d"); }),
              "Error element : d => not present in the xml file or is not unique!");
    const std::map<std::string, std::string> expected{{"a", "1"}, {"b", "x"}};
    EXPECT_EQ(m_xml.get_element_properties(e), expected);
    EXPECT_EQ(m_xml.get_element_properties_ex("e"), expected);
}

TEST_F(Xml_Io_Test, SettingAttributesChangesOnlyExistingOnes)
{
    load("<root><e f=\"0\" c=\"0\" u=\"0\" d=\"0\" s=\"0\" i=\"0\"/></root>");
    auto* e = dynamic_cast<xmlpp::Element*>(m_xml.get_node_ex("e"));
    m_xml.set_attribute_value_ex<float>("f", 2.5f, e);
    m_xml.set_attribute_value_ex<unsigned char>("u", 200, e);
    m_xml.set_attribute_value_ex<signed char>("c", -3, e);
    m_xml.set_attribute_value_ex<double>("d", 1234567.0, e);
    m_xml.set_attribute_value_ex<std::string>("s", "two words", e);
    m_xml.set_attribute_value_ex<long long>("i", -9000000000LL, e);
    m_xml.set_attribute_value_ex<int>("absent", 1, e);
    const std::map<std::string, std::string> expected{{"f", "2.5"},         {"c", "-3"},        {"u", "200"},
                                                      {"d", "1.23457e+06"}, {"s", "two words"}, {"i", "-9000000000"}};
    EXPECT_EQ(m_xml.get_element_properties(e), expected);
}

// ---- documents ---------------------------------------------------------------

TEST_F(Xml_Io_Test, CreatedDocumentIsWrittenAndReadBack)
{
    m_xml.create_root_node_ex("config");
    xmlpp::Element* cfg = m_xml.add_node("cfg");
    xmlpp::Element* port = m_xml.add_node("port", cfg);
    m_xml.set_element_value_ex<std::string>("500", port, std::dec);
    EXPECT_EQ(m_xml.write_to_string(""),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config><cfg><port>500</port></cfg></config>\n");
    EXPECT_THAT(m_xml.write_to_string_formatted(""), HasSubstr("\n  <cfg>\n    <port>500</port>\n  </cfg>\n"));
    std::ostringstream stream;
    m_xml.write_to_stream(stream, "UTF-8");
    EXPECT_THAT(stream.str(), HasSubstr("<port>500</port>"));

    const std::string path = m_dir + "/written.xml";
    m_xml.write_to_file_formatted(path, "UTF-8");
    XML_IO reread;
    reread.load_ex(path);
    EXPECT_EQ(reread.get_element_value_ex<int>("cfg/port"), 500);
}

// ---- unreadable documents: one clear error, nothing else ---------------------

class Xml_Load_Error_Test : public Xml_Io_Test {
protected:
    // The error of load_ex; standard error must stay silent meanwhile.
    std::string load_error(const std::string& path)
    {
        ::testing::internal::CaptureStderr();
        const std::string error = error_of([&] { m_xml.load_ex(path); });
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        return error;
    }
};

TEST_F(Xml_Load_Error_Test, MalformedDocument)
{
    const std::string path = write_file("bad.xml", "<root><a>1</a>");
    const std::string error = load_error(path);
    EXPECT_THAT(error, StartsWith("Could not parse file : " + path + " desc = "));
    EXPECT_THAT(error, HasSubstr("line 1"));
}

TEST_F(Xml_Load_Error_Test, EmptyFileAndMissingFile)
{
    const std::string empty = write_file("empty.xml", "");
    EXPECT_THAT(load_error(empty), StartsWith("Could not parse file : " + empty + " desc = "));
    const std::string missing = m_dir + "/missing.xml";
    EXPECT_THAT(load_error(missing), StartsWith("Could not parse file : " + missing + " desc = "));
}

TEST_F(Xml_Load_Error_Test, PathThatCannotBeRead)
{
    const std::string directory = m_dir + "/a_directory.xml";
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    EXPECT_THAT(load_error(directory), StartsWith("Could not parse file : " + directory + " desc = "));
    const std::string through_file = write_file("plain", "<root/>") + "/doc.xml";
    EXPECT_THAT(load_error(through_file), StartsWith("Could not parse file : " + through_file + " desc = "));
}

// Root ignores permissions; the file is read with the file-system identity of
// an unprivileged user (per thread), which drops the override capabilities.
TEST_F(Xml_Load_Error_Test, FileWithoutReadPermission)
{
    const std::string path = write_file("locked.xml", "<root><a>1</a></root>");
    ASSERT_EQ(chmod(m_dir.c_str(), 0755), 0);
    ASSERT_EQ(chmod(path.c_str(), 0000), 0);
    const uid_t nobody = 65534;
    const int previous = setfsuid(nobody);
    std::string error = load_error(path);
    setfsuid(previous);
    if (geteuid() == 0) {
        ASSERT_EQ(setfsuid(static_cast<uid_t>(-1)), 0) << "file-system identity not restored";
    }
    EXPECT_THAT(error, StartsWith("Could not parse file : " + path + " desc = "));
    EXPECT_THAT(error, HasSubstr("failed to load external entity"));
}

TEST_F(Xml_Load_Error_Test, LookupsAfterAFailedLoadAreRefused)
{
    load("<root><a>1</a></root>");
    load_error(m_dir + "/missing.xml");
    EXPECT_EQ(error_of([&] { m_xml.get_node_ex("a"); }), "[XML_IO][find] no xml document loaded!");
    EXPECT_EQ(error_of([&] { m_xml.write_to_string(""); }), "[XML_IO][write] no xml document to write!");
    load("<root><a>2</a></root>");
    EXPECT_EQ(m_xml.get_element_value_ex<int>("a"), 2);
}

}  // namespace
