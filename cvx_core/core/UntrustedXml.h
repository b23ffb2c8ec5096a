#pragma once

namespace cvx
{

/** False when the framework's Base64 decoder would size its block from a byte count that the
    characters after the point cannot carry: it allocates that count before reading a single
    character, so a damaged text ("-5.", "4000000000.") would throw or claim gigabytes.
    A text without a point is safe: the decoder refuses it untouched. */
bool isSafeToDecodeAsBase64 (const juce::String& text);

/** The largest document parseUntrustedXml reads. A full state, preset or settings file is a
    few kilobytes; this leaves room for any real one and keeps a damaged or hostile one from
    costing gigabytes and seconds to parse and convert. */
constexpr size_t maximumUntrustedXmlBytes = 16 * 1024 * 1024;

/** The most elements a document parseUntrustedXml reads may hold. A full state has about a
    hundred (94 parameters, the trees around them, a few modulation routes). */
constexpr int maximumUntrustedXmlElements = 10000;

/** The most attributes, over all elements, a document parseUntrustedXml reads may hold. A full
    state has a few hundred. The parser keeps every distinct attribute name in one sorted,
    process-wide table, inserting one by one: two hundred thousand names take seconds, the
    million and more a 16 MB document can hold take hours. */
constexpr int maximumUntrustedXmlAttributes = 20000;

/** Parses XML that comes from outside the program: a host's state block, the settings file,
    preset files. Gives null, instead of trusting the framework's parser and tree conversion
    with it, for text that is longer than maximumUntrustedXmlBytes, that is not valid UTF-8,
    that holds a document type or entity declaration (the parser expands entities recursively
    without a limit), whose elements nest deeper than maximumDepth (the parser recurses once
    per level), that holds more elements or attributes than the limits above, whose attribute
    values hold so many character references that the parser would take minutes over them,
    that ends inside a comment, CDATA section, processing instruction, tag or quoted value,
    that holds an '&' not beginning a complete reference ("&amp;", "&#10;", "&#xE9;"), or a
    start tag of any shape but '<', a name, attributes written name="value" or name='value',
    then '>' or "/>", each name starting with a letter, '_' or ':' (the parser reads past the
    end of the text at some of these, reads on from the middle of the tag after others, and
    the framework's elements assert on other names; all checked on the text before anything
    is built), that does not parse,
    that gives one element the same attribute twice (XML forbids it; the tree would run with
    the first and save the last), or that carries a "base64:" attribute the tree conversion
    could not decode safely. A "base64:name" attribute stands for "name" in the tree, so it may
    not appear beside it. */
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* utf8, size_t numBytes, int maximumDepth);

/** The number at the start of a text, read as the framework reads numbers (blanks, sign,
    digits, point, exponent, "inf"), but safe for any text: the framework adds up an exponent
    in an int, which overflows from ten digits on. An exponent of more than nine digits (leading
    zeros aside) lies beyond every double either way and reads as infinity or zero. rest, when
    given, receives the text after the number (its over-long exponents shortened as well), so
    it is empty exactly when nothing follows. */
double readNumber (const juce::String& text, juce::String* rest = nullptr);

/** The text with every exponent digit run of more than nine significant digits written as
    999999999 (still beyond every double, and short enough for the framework's reader), the
    rest untouched. A text the framework will read as a number itself should pass here first. */
juce::String boundExponents (const juce::String& text);

/** A stored value as a number: numbers and booleans as the framework converts them, text
    through readNumber, anything else 0. For values that come from outside the program. */
double toNumber (const juce::var& value);

} // namespace cvx
