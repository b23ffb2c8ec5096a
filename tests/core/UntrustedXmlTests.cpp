// The reader of XML from outside the program (state blocks, settings, presets): what it refuses
// before or after parsing, and what it still reads.

#include "CoreTestSupport.h"

namespace
{

constexpr int depth = 64;

std::unique_ptr<juce::XmlElement> parse (const juce::String& text)
{
    return cvx::parseUntrustedXml (text.toRawUTF8(), text.getNumBytesAsUTF8(), depth);
}

/** A root holding `count` elements in all (the root included), each with `attributesEach`
    attributes of distinct names. */
juce::String makeDocument (int count, int attributesEach)
{
    const auto element = [attributesEach] (const char* tag)
    {
        juce::String text ("<");
        text << tag;
        for (int a = 0; a < attributesEach; ++a)
            text << " a" << a << "=\"" << a << "\"";
        return text;
    };

    juce::MemoryOutputStream out;
    out << element ("State") << ">";
    for (int i = 1; i < count; ++i)
        out << element ("PARAM") << "/>";
    out << "</State>";
    return out.toString();
}

} // namespace

TEST (UntrustedXml, RepeatedAttributesAreRefused)
{
    struct Case { const char* text; bool accepted; };
    const Case cases[] {
        { R"(<State><PARAM id="IN" value="0"/></State>)", true },
        { R"(<State><PARAM id="IN" value="0" value="6"/></State>)", false },
        { R"(<State><PARAM id="IN" value="0" value="0"/></State>)", false },
        { R"(<State a="1" b="2" a="3"/>)", false },
        { R"(<State><Parameters><PARAM id="A" value="1"/><PARAM id="B" value="2" id="C"/></Parameters></State>)", false },
        // The tree stores "base64:x" under "x": the two would be the same property.
        { R"(<State><Properties x="1" base64:x="AAAA"/></State>)", false },
        // Names differ in case, or the same name sits on different elements: all distinct.
        { R"(<State><PARAM value="0" Value="6"/></State>)", true },
        { R"(<State value="1"><PARAM value="2"/><PARAM value="3"/></State>)", true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        const auto xml = parse (c.text);
        EXPECT_EQ (xml != nullptr, c.accepted);
    }
}

TEST (UntrustedXml, OnlyALeadingXmlDeclarationIsAccepted)
{
    // The framework's parser never returns from some processing instructions (one followed by
    // text inside an element), so none but the declaration gets that far.
    struct Case { const char* text; bool accepted; };
    const Case cases[] {
        { "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<State/>", true },
        { "  \n<?xml version=\"1.0\"?><State a=\"x?>\"/>", true },
        { "<State/>", true },
        { "<State><?x?>b</State>", false },
        { "<?x?><State/>", false },
        { "<?xml version=\"1.0\"?><?xml version=\"1.0\"?><State/>", false },
        { "<State/><?xml version=\"1.0\"?>", false },
        { "<?xmlfoo?><State/>", false },
        { "<?7\"?>\r\n\r\n<Sta->=\"A<?xF-8\"?>\r\n\r\n=--><", false },
        // A broken attribute that a reader could take for the start of a value hides nothing.
        { "<State><PARAM id=\"A\" val1\"/>\r\n<?xml version=\"1.0\"?>\r\n<PARAM id=\"B\"/></State>", false },
        { "<State><!-- <?x?> --></State>", false },
        { "<State a=\"<?x?>\"/>", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        const auto xml = parse (c.text);
        EXPECT_EQ (xml != nullptr, c.accepted);
    }
}

TEST (UntrustedXml, TextTheParserWouldReadPastTheEndOfIsRefused)
{
    // The framework's parser steps over the zero that ends its text at a character reference
    // cut off by it, and parses an entity name that starts with '<' as markup in a string of
    // its own, where the same happens. So every '&' must begin a complete reference, and no
    // construct may be left open at the end; names in tags are plain XML names, which the
    // framework's elements take without asserting. What a valid document holds reads as the
    // framework reads it.
    struct Case { const char* name; std::string text; bool accepted; };
    const Case cases[] {
        { "the settings file a fuzzer found", "<_F->\x01<_F->\r\n]ettir=\"&#252;cke &#x59", false },
        { "hex reference without digits at the end", "<State>&#x", false },
        { "hex reference of eight digits at the end", "<State>&#x12345678", false },
        { "decimal reference at the end", "<State>&#123", false },
        { "hex reference at the end of an open value", "<State a=\"&#x59", false },
        { "reference without digits that takes the quote", "<State a=\"&#x\"/>&#x41", false },
        { "ampersand without a reference", "<State a=\"R&B\"/>", false },
        { "entity name holding markup", "<State>&<a>&#x41;</State>", false },
        { "entity name holding markup behind a value without quotes", "<State><a b=c &<x>&#x41;/></State>", false },
        { "comment inside a start tag", "<State <!-- > --> a=\"1\"/>", false },
        { "tag name starting with a digit", "<State><1a/></State>", false },
        { "attribute name starting with a dash", "<State -x=\"1\"/>", false },
        { "name beyond ASCII", "<State \xC3\xA9t\xC3\xA9=\"1\"/>", false },
        // After an error in a start tag the parser reads on from the middle of the tag, and
        // takes the '<' of what was meant as a value for an element named "062".
        { "start tag without a name", "<State><;a b=\"1<062\"/></State>", false },
        { "attribute without '='", "<State><a b c=\"1<062\"/></State>", false },
        { "attribute value without quotes", "<State><a b=1 c=\"1<062\"/></State>", false },
        { "value without quotes, which the parser drops with the rest of the tag", "<State a=\"1\" b=x c=\"2\"/>", false },
        { "character that starts no attribute", "<State><a ;b=\"1<062\"/></State>", false },
        { "slash apart from the closing '>'", "<State><a b=\"1\" / c=\"1<062\"/></State>", false },
        { "blanks around the name, the '=' and between values", "< State\ta = '1'b=\"2\"\r\n/>", true },
        { "CDATA section left open", "<State><![CDATA[text", false },
        { "CDATA opener cut off", "<State><![CDA", false },
        { "comment left open", "<State><!-- note", false },
        { "declaration left open", "<?xml version=\"1.0\"", false },
        { "value left open", "<State a=\"", false },
        { "start tag left open", "<State a=\"1\"", false },
        { "end tag left open", "<State></State", false },
        { "every predefined and numeric reference",
          "<State a=\"&amp;&lt;&gt;&quot;&apos;&#233;&#xE9;&#XE9;\">x &amp; y&#10;</State>", true },
        { "markup characters inside values, comments and CDATA",
          "<State a=\"<b>\" c='\"'><!-- R&B <x --><![CDATA[&#x <y]]>a > b</State>", true },
        { "an entity the document does not declare", "<State>&foo;</State>", true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto xml = cvx::parseUntrustedXml (c.text.data(), c.text.size(), 8);
        ASSERT_EQ (xml != nullptr, c.accepted);
        if (xml != nullptr)
        {
            const auto framework = juce::parseXML (juce::String::fromUTF8 (c.text.data(), (int) c.text.size()));
            ASSERT_NE (framework, nullptr);
            EXPECT_TRUE (xml->isEquivalentTo (framework.get(), false));
        }
    }
}

TEST (UntrustedXml, OverlongUtf8SequencesAreRefused)
{
    // Well-formed UTF-8 structure, but a character written with more bytes than it needs:
    // the framework's string would size its copy from the characters and copy the bytes.
    struct Case { const char* name; std::string text; bool accepted; };
    const Case cases[] {
        { "a two-byte character", "<State a=\"\xC3\xA9t\xC3\xA9\"/>", true },
        { "a four-byte character", "<State a=\"\xF0\x9F\x8E\xB5\"/>", true },
        { "zero in two bytes", std::string ("<State a=\"\xC0\x80xyz\"/>"), false },
        { "DEL in two bytes", "<State a=\"\xC1\xBF\"/>", false },
        { "zero in three bytes", std::string ("<State a=\"\xE0\x80\x80\"/>"), false },
        { "a slash in four bytes", "<State a=\"\xF0\x80\x80\xAF\"/>", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto xml = cvx::parseUntrustedXml (c.text.data(), c.text.size(), 8);
        EXPECT_EQ (xml != nullptr, c.accepted);
    }
}

TEST (UntrustedXml, ElementAndAttributeCountsAreBounded)
{
    // A full state holds about a hundred elements and a few hundred attributes; the limits
    // leave ample room, and one more than either limit is refused.
    const int elements = cvx::maximumUntrustedXmlElements;
    const int attributes = cvx::maximumUntrustedXmlAttributes;
    ASSERT_EQ (attributes % 4, 0);

    struct Case { const char* name; int count; int attributesEach; bool accepted; };
    const Case cases[] {
        { "elements at the limit", elements, 0, true },
        { "one element more", elements + 1, 0, false },
        { "attributes at the limit", attributes / 4, 4, true },
        { "one element of four more attributes", attributes / 4 + 1, 4, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto text = makeDocument (c.count, c.attributesEach);
        const auto xml = parse (text);
        ASSERT_EQ (xml != nullptr, c.accepted);
        if (xml != nullptr)
        {
            EXPECT_EQ (xml->getNumChildElements(), c.count - 1);
        }
    }

    // Elements and '=' inside comments, CDATA and attribute values are not counted.
    juce::String padding;
    for (int i = 0; i <= elements; ++i)
        padding << "<a b='' c=''/>";
    const auto hidden = "<State v=\"" + padding + "\"><!--" + padding + "--><![CDATA[" + padding + "]]></State>";
    EXPECT_NE (parse (hidden), nullptr);
}

TEST (UntrustedXml, AttributeValuesFullOfReferencesAreRefused)
{
    // The parser copies a whole attribute value at each character reference in it. Values
    // with a few (a preset path with an ampersand, a line break) are read as written; a long
    // value made of them, which would take the parser minutes at full size, is refused.
    const auto valueOf = [] (int references, int plainBytes)
    {
        return juce::String::repeatedString ("&amp;", references) + juce::String::repeatedString ("x", plainBytes);
    };

    struct Case { const char* name; int references; int plainBytes; bool accepted; };
    const Case cases[] {
        { "a path with two ampersands", 2, 200, true },
        { "a thousand references", 1000, 0, true },
        { "a megabyte with a hundred references", 100, 1 << 20, false },
        { "ten thousand references", 10000, 0, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto xml = parse ("<State preset=\"" + valueOf (c.references, c.plainBytes) + "\"/>");
        ASSERT_EQ (xml != nullptr, c.accepted);
        if (xml != nullptr)
        {
            EXPECT_EQ (xml->getStringAttribute ("preset"),
                       juce::String::repeatedString ("&", c.references) + juce::String::repeatedString ("x", c.plainBytes));
        }
    }
}

TEST (UntrustedXml, DocumentsAboveTheSizeLimitAreRefusedUnread)
{
    // A valid document padded with a comment to the exact size is read; one byte more is not.
    const juce::String head ("<State x=\"1\"><!--"), tail ("--></State>");
    const auto fill = cvx::maximumUntrustedXmlBytes - (size_t) (head.length() + tail.length());

    std::string text (head.toRawUTF8());
    text.append (fill, ' ');
    text.append (tail.toRawUTF8());
    ASSERT_EQ (text.size(), cvx::maximumUntrustedXmlBytes);

    const auto atLimit = cvx::parseUntrustedXml (text.data(), text.size(), depth);
    ASSERT_NE (atLimit, nullptr);
    EXPECT_EQ (atLimit->getIntAttribute ("x"), 1);

    text.insert ((size_t) head.length(), " ");
    EXPECT_EQ (cvx::parseUntrustedXml (text.data(), text.size(), depth), nullptr);

    // The size is taken from the caller: data beyond the limit is not looked at.
    EXPECT_EQ (cvx::parseUntrustedXml (text.data(), (size_t) std::numeric_limits<int>::max() + 10, depth), nullptr);
}

// Numbers from outside the program are read as the framework reads them, except that an
// exponent of ten or more digits (which overflows the framework's int) reads as the infinity
// or zero it stands for. What follows the number is handed back.
TEST (UntrustedXml, NumbersWithAnyExponentAreReadSafely)
{
    const auto inf = std::numeric_limits<double>::infinity();
    struct Case { const char* text; double expected; const char* rest; };
    const Case cases[] {
        { "2.5e3", 2500.0, "" },
        { "-0.125", -0.125, "" },
        { "1e0000000000005", 1.0e5, "" },                 // leading zeros are no digits
        { "0.9386E60049247742", inf, "" },                // the exponent a fuzzer found
        { "-7e+99999999999999999999", -inf, "" },
        { "3e-12345678901", 0.0, "" },
        { "1e999999999", inf, "" },                        // nine digits: the framework's own path
        { "12 dB", 12.0, " dB" },
        { "4e12345678901x", inf, "x" },
        { "e12", 0.0, "e12" },                            // no digits before the exponent
        { "abc", 0.0, "abc" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        juce::String rest;
        const auto number = cvx::readNumber (c.text, &rest);
        EXPECT_EQ (number, c.expected);
        EXPECT_EQ (rest, juce::String (c.rest));
        EXPECT_EQ (cvx::toNumber (juce::var (c.text)), c.expected);
    }

    // Stored text is only rewritten where an exponent is too long, so a state restored from
    // text saves the same text again.
    struct Bound { const char* text; const char* expected; };
    for (const auto& b : { Bound { "130.127685112566e-6", "130.127685112566e-6" }, Bound { "-2.5E+0000000000001", "-2.5E+0000000000001" },
                           Bound { "0.9386E60049247742", "0.9386E999999999" }, Bound { "1e-12345678901 e7", "1e-999999999 e7" },
                           Bound { "abc", "abc" } })
        EXPECT_EQ (cvx::boundExponents (b.text), juce::String (b.expected)) << b.text;

    EXPECT_EQ (cvx::toNumber (juce::var (0.75)), 0.75);
    EXPECT_EQ (cvx::toNumber (juce::var (3)), 3.0);
    EXPECT_EQ (cvx::toNumber (juce::var (true)), 1.0);
    EXPECT_EQ (cvx::toNumber (juce::var()), 0.0);
}
