namespace cvx
{

State::State (juce::AudioProcessor& processor,
              juce::AudioProcessorValueTreeState::ParameterLayout layout,
              const juce::String& productName)
    : parameters (processor, nullptr, parametersID, std::move (layout)),
      settings (productName)
{
    attributes.setProperty (Attributes::colour, juce::Colours::grey.toString(), nullptr);
    settings.load();
}

State::~State()
{
    settings.save();
}

juce::ValueTree State::toPreset()
{
    juce::ValueTree preset { stateID };

    // copyState flushes and copies under the parameter store's lock, so a host change
    // cannot tear the copy.
    preset.appendChild (parameters.copyState(), nullptr);

    preset.appendChild (properties.createCopy(), nullptr);

    juce::ValueTree serialized { serializedID };
    for (const auto& [key, object] : serializables)
    {
        juce::ValueTree child { key };
        serialized.appendChild (child, nullptr);
        object->save (child);
    }
    preset.appendChild (serialized, nullptr);

    juce::ValueTree modulation { modulatorsID };
    if (modulators.hasModulators())
        modulators.save (modulation);
    preset.appendChild (modulation, nullptr);

    return preset;
}

void State::fromPreset (juce::ValueTree preset)
{
    // The parameter tree takes over the preset's parameters in place (views listening to it stay
    // attached), and the parameter store reads every PARAM child as it arrives. A missing child,
    // or one without a value, would set its parameter to the default (and stay without a value
    // in later saves), so those parameters get their current value written in: they keep it,
    // and a later save still holds all of them.
    static const juce::Identifier paramType { "PARAM" }, idKey { "id" }, valueKey { "value" };

    juce::ValueTree newParameters { parametersID };
    newParameters.copyPropertiesAndChildrenFrom (preset.getChildWithName (parametersID), nullptr);

    for (auto* p : parameters.processor.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
        if (ranged == nullptr)
            continue;

        const auto* current = parameters.getRawParameterValue (ranged->paramID);
        if (current == nullptr)
            continue;

        auto child = newParameters.getChildWithProperty (idKey, ranged->paramID);
        if (! child.isValid())
        {
            child = juce::ValueTree { paramType };
            child.setProperty (idKey, ranged->paramID, nullptr);
            newParameters.appendChild (child, nullptr);
        }

        if (! child.hasProperty (valueKey))
            child.setProperty (valueKey, current->load(), nullptr);
    }

    parameters.state.copyPropertiesAndChildrenFrom (newParameters, nullptr);

    properties.copyPropertiesAndChildrenFrom (preset.getChildWithName (propertiesID), nullptr);

    modulators.load (preset.getOrCreateChildWithName (modulatorsID, nullptr));

    auto serialized = preset.getOrCreateChildWithName (serializedID, nullptr);
    for (const auto& [key, object] : serializables)
        object->load (serialized.getOrCreateChildWithName (key, nullptr));

    attributes.setProperty (Attributes::dirty, false, nullptr);
}

juce::Colour State::Attributes::getColour (const State& state)
{
    const auto text = state.attributes.getProperty (colour, juce::Colours::grey.toString()).toString();

    juce::uint32 argb = 0;
    for (auto c : text)
    {
        int digit = -1;
        if (c >= '0' && c <= '9')      digit = (int) (c - '0');
        else if (c >= 'a' && c <= 'f') digit = (int) (c - 'a') + 10;
        else if (c >= 'A' && c <= 'F') digit = (int) (c - 'A') + 10;

        if (digit >= 0)
            argb = (argb << 4) | (juce::uint32) digit;
    }
    return juce::Colour (argb);
}

} // namespace cvx
