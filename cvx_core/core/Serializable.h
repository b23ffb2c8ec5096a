#pragma once

namespace cvx
{

/** An object that stores itself in a child of the state's "Serialized" tree, keyed by its id.
    The default save and load do nothing. */
class Serializable
{
public:
    explicit Serializable (const juce::String& identifier) : id (identifier) {}
    virtual ~Serializable() = default;

    virtual void save (juce::ValueTree&) const {}
    virtual void load (const juce::ValueTree&) {}

    juce::String id;
};

} // namespace cvx
