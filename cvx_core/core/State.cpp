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

namespace
{
    /** True when a stored parameter value is a number the parameter can take: a finite number
        or an infinity (which the parameter clamps to its range). Text must be a number and
        nothing else, apart from surrounding blanks; "", "abc", "1x" and "nan" are not. */
    bool isUsableParameterValue (const juce::var& value)
    {
        if (value.isInt() || value.isInt64() || value.isBool())
            return true;

        if (value.isDouble())
            return ! std::isnan ((double) value);

        if (! value.isString())
            return false;

        const auto text = value.toString().trim();
        if (text.isEmpty())
            return false;

        juce::String rest;
        const auto number = readNumber (text, &rest);
        if (rest.isNotEmpty() || std::isnan (number))
            return false;

        // The reader takes a lone sign as 0; a number has at least one digit.
        return std::isinf (number) || text.containsAnyOf ("0123456789");
    }
} // namespace

void State::fromPreset (juce::ValueTree preset)
{
    // The parameter tree takes over the preset's parameters in place (views listening to it stay
    // attached), and the parameter store reads every PARAM child as it arrives. A missing child,
    // or one without a usable value, would set its parameter to the default or to something that
    // is not a number (and carry it into later saves), so those parameters get their current
    // value written in: they keep it, and a later save still holds all of them. Only the first
    // child for an id counts: the store would otherwise take the last one while running and save
    // into the first, so the project would change on every reload.
    juce::ValueTree newParameters { parametersID };
    newParameters.copyPropertiesAndChildrenFrom (preset.getChildWithName (parametersID), nullptr);

    {
        std::set<juce::String> seen;
        for (int i = 0; i < newParameters.getNumChildren();)
        {
            const auto child = newParameters.getChild (i);
            if (child.hasProperty (Parameters::id) && ! seen.insert (child[Parameters::id].toString()).second)
                newParameters.removeChild (i, nullptr);
            else
                ++i;
        }
    }

    for (auto* p : parameters.processor.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
        if (ranged == nullptr)
            continue;

        const auto* current = parameters.getRawParameterValue (ranged->paramID);
        if (current == nullptr)
            continue;

        auto child = newParameters.getChildWithProperty (Parameters::id, ranged->paramID);
        if (! child.isValid())
        {
            child = juce::ValueTree { Parameters::type };
            child.setProperty (Parameters::id, ranged->paramID, nullptr);
            newParameters.appendChild (child, nullptr);
        }

        if (! isUsableParameterValue (child[Parameters::value]))
            child.setProperty (Parameters::value, current->load(), nullptr);
        else if (child[Parameters::value].isString())
            child.setProperty (Parameters::value, boundExponents (child[Parameters::value].toString()), nullptr);  // what the store reads
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
