#pragma once

namespace cvx
{

/** False when the framework's Base64 decoder would size its block from a byte count that the
    characters after the point cannot carry: it allocates that count before reading a single
    character, so a damaged text ("-5.", "4000000000.") would throw or claim gigabytes.
    A text without a point is safe: the decoder refuses it untouched. */
bool isSafeToDecodeAsBase64 (const juce::String& text);

/** Parses XML that comes from outside the program: a host's state block, the settings file.
    Gives null, instead of trusting the framework's parser and tree conversion with it, for
    text that is not valid UTF-8, that holds a document type or entity declaration (the parser
    expands entities recursively without a limit), whose elements nest deeper than
    maximumDepth (the parser recurses once per level), that does not parse, or that carries a
    "base64:" attribute the tree conversion could not decode safely. */
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const void* utf8, size_t numBytes, int maximumDepth);

} // namespace cvx
