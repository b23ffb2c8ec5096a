namespace cvx
{

AudioParameter::AudioParameter (State& s, const juce::String& identifier)
    : Serializable (identifier), state (s)
{
    parameter = state.parameters.getParameter (id);
    rawValue = state.parameters.getRawParameterValue (id);
    modulation = 0.0f;
    pullBase();
}

void AudioParameter::pull()
{
    pullBase();
}

bool AudioParameter::pullChanged (float v) noexcept
{
    const float offset = state.modulators.getModulation (id);

    // The conversions are pure functions of the plain value and the offset: when neither has
    // changed since the last pull, and no push has replaced the value, the cached results
    // stand. Most parameters hold still most blocks, and a log-range conversion costs a pow
    // and a log10 each way.
    if (v == pulledValue && offset == pulledModulation && (float) value == v)
        return false;

    recompute (v, offset);
    return true;
}

void AudioParameter::recompute (float v, float offset) noexcept
{
    pulledValue = v;
    pulledModulation = offset;
    value = v;
    normalisedValue = parameter->convertTo0to1 (v);
    modulation = offset;

    const float modulatedNormalised = clamp01 (modulation + normalisedValue);
    modulatedNormalisedValue = modulatedNormalised;
    modulatedValue = parameter->convertFrom0to1 (modulatedNormalised);
}

void AudioParameter::push0to1 (float normalised)
{
    jassert (parameter != nullptr);
    if (parameter == nullptr)
        return;

    writeNormalised (clamp01 (normalised));
}

void AudioParameter::pushPlain (float plainValue)
{
    jassert (parameter != nullptr);
    if (parameter == nullptr || ! std::isfinite (plainValue))
        return;

    const auto& range = parameter->getNormalisableRange();
    writeNormalised (parameter->convertTo0to1 (juce::jlimit (range.start, range.end, plainValue)));
}

void AudioParameter::writeNormalised (float normalised)
{
    const auto& range = parameter->getNormalisableRange();
    const float v = juce::jlimit (range.start, range.end, parameter->convertFrom0to1 (clamp01 (normalised)));
    const float n = parameter->convertTo0to1 (v);

    // The host receives the normalised form of the snapped plain value.
    parameter->beginChangeGesture();
    parameter->setValue (n);
    parameter->sendValueChangedMessageToListeners (n);
    parameter->endChangeGesture();

    value = v;
    normalisedValue = n;
    const float modulatedNormalised = clamp01 (modulation + n);
    modulatedNormalisedValue = modulatedNormalised;
    modulatedValue = parameter->convertFrom0to1 (modulatedNormalised);
}

} // namespace cvx
