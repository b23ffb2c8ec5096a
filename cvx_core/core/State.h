#pragma once

namespace cvx
{

class Processor;

/** The one model of a plug-in instance: host parameters, the product's switches (Properties),
    per-instance editor values (Attributes), the settings file, objects that save themselves,
    the modulation matrix, and the host's tempo and position. Owned by the processor base. */
class State
{
public:
    static inline const juce::Identifier stateID { "State" };
    static inline const juce::Identifier parametersID { "Parameters" };
    static inline const juce::Identifier propertiesID { "Properties" };
    static inline const juce::Identifier attributesID { "Attributes" };
    static inline const juce::Identifier serializedID { "Serialized" };
    static inline const juce::Identifier modulatorsID { "Modulators" };

    /** One parameter of the "Parameters" tree, as the framework's parameter store writes it:
        a "PARAM" element with the parameter's "id" and its plain "value". */
    struct Parameters
    {
        static inline const juce::Identifier type { "PARAM" };
        static inline const juce::Identifier id { "id" };
        static inline const juce::Identifier value { "value" };
    };

    /** Keys of the Attributes tree shared by every product. */
    struct Attributes
    {
        static inline const juce::Identifier width { "width" };
        static inline const juce::Identifier height { "height" };
        static inline const juce::Identifier scale { "scale" };
        static inline const juce::Identifier colour { "colour" };
        static inline const juce::Identifier preset { "preset" };
        static inline const juce::Identifier dirty { "dirty" };
        static inline const juce::Identifier selmod { "selmod" };

        /** The theme colour: the "colour" attribute read as hexadecimal ARGB, grey when absent.
            Message thread. */
        static juce::Colour getColour (const State& state);
    };

    /** Builds the parameter store from the layout, the trees, the settings file (loaded here)
        and the shared version check. productName names the settings file and its thread. */
    State (juce::AudioProcessor& processor,
           juce::AudioProcessorValueTreeState::ParameterLayout layout,
           const juce::String& productName = CVX_PRODUCT_NAME);

    /** Writes the settings file back before anything else is destroyed. */
    ~State();

    /** The preset tree of the current state: "State" with "Parameters", "Properties",
        "Serialized" and "Modulators". Message thread. */
    juce::ValueTree toPreset();

    /** Applies a preset tree: parameters, properties, modulation, serialised objects, then
        "dirty" := false. Parameters the preset does not mention keep their values, as do those
        whose stored value is not a number (empty, text, NaN; an infinity is clamped to the
        range); of PARAM children that repeat an id only the first counts, here and in later
        saves. Missing "Modulators" and "Serialized" children are created (empty) in the
        caller's tree. Message thread. */
    void fromPreset (juce::ValueTree preset);

    juce::AudioProcessorValueTreeState parameters;
    juce::ValueTree properties { propertiesID };
    juce::ValueTree attributes { attributesID };
    cache::ValueFile settings;
    std::map<juce::String, Serializable*> serializables;
    std::map<juce::String, Processor*> processors;
    ModulatorMatrix modulators;
    std::atomic<bool> hostActive { false };
    std::atomic<double> hostPosition { 0.0 };  // quarter notes
    std::atomic<double> hostTempo { 120.0 };   // beats per minute
    juce::SharedResourcePointer<VersionManager> versionManager;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (State)
};

} // namespace cvx
