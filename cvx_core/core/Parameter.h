#pragma once

namespace cvx
{

/** A float or int cell that two threads may read and write without a data race; the latest
    write wins. */
template <typename T>
class RelaxedAtomic
{
public:
    RelaxedAtomic (T initial = {}) noexcept : cell (initial) {}
    RelaxedAtomic& operator= (T v) noexcept { cell.store (v, std::memory_order_relaxed); return *this; }
    operator T() const noexcept { return cell.load (std::memory_order_relaxed); }

private:
    std::atomic<T> cell;
};

/** Binding to one host parameter, found by id, with the modulation matrix's offset applied.
    The engine pulls its bindings at the start of every block (audio thread) and reads the
    cached modulated values; the editor writes through push0to1 as one host gesture. */
class AudioParameter : public Serializable
{
public:
    AudioParameter (State& state, const juce::String& id);

    /** Refreshes the cached values from the host value and the modulation matrix.
        Never allocates. Audio or message thread. */
    virtual void pull();

    /** Writes a normalised position (clamped to 0..1) as one complete host gesture: begin,
        value change, end. Message thread. */
    void push0to1 (float normalised);

    /** Writes a plain value (clamped to the parameter's range) as one complete host gesture:
        begin, value change, end. A value that is not finite writes nothing. Message thread. */
    void pushPlain (float plainValue);

    float getValue() const noexcept                      { return value; }
    float getNormalisedValue() const noexcept            { return normalisedValue; }
    float getModulation() const noexcept                 { return modulation; }
    float getModulatedValue() const noexcept             { return modulatedValue; }
    float getModulatedNormalisedValue() const noexcept   { return modulatedNormalisedValue; }

    juce::RangedAudioParameter* getParameter() const noexcept { return parameter; }

protected:
    static float clamp01 (float x) noexcept { return x < 0.0f ? 0.0f : std::min (1.0f, x); }

    State& state;
    juce::RangedAudioParameter* parameter = nullptr;
    std::atomic<float>* rawValue = nullptr;
    RelaxedAtomic<float> value, normalisedValue, modulation, modulatedValue, modulatedNormalisedValue;

    /** What pull does; returns whether the cached values were recomputed. The engine pulls
        every binding every block and nearly always finds nothing changed: that answer is
        inline, the rest is not. */
    forcedinline bool pullBase() noexcept
    {
        // Bindings are only made for ids of the layout.
        jassert (parameter != nullptr && rawValue != nullptr);
        if (parameter == nullptr || rawValue == nullptr)
            return false;

        const float v = rawValue->load();

        // Without modulation the offset is 0; see pullChanged.
        if (! state.modulators.mayModulateAny() && pulledModulation == 0.0f && v == pulledValue && (float) value == v)
            return false;

        return pullChanged (v);
    }

private:
    bool pullChanged (float plainValue) noexcept;
    void recompute (float plainValue, float offset) noexcept;
    void writeNormalised (float normalised);

    // The plain value and offset the cached values were last pulled from (NaN: none yet).
    RelaxedAtomic<float> pulledValue { std::numeric_limits<float>::quiet_NaN() };
    RelaxedAtomic<float> pulledModulation { std::numeric_limits<float>::quiet_NaN() };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AudioParameter)
};

/** A binding that also offers its plain and modulated values as T (float, or int truncated
    toward zero). The typed values change only on pull. */
template <typename T>
class Parameter : public AudioParameter
{
public:
    Parameter (State& s, const juce::String& identifier) : AudioParameter (s, identifier)
    {
        updateTyped();
    }

    void pull() override
    {
        if (pullBase())
            updateTyped();
    }

    /** The plain value as of the last pull. */
    T get() const noexcept { return typedValue; }

    /** The modulated value as of the last pull: what the engine uses. */
    T getModulated() const noexcept { return typedModulatedValue; }

private:
    void updateTyped() noexcept
    {
        typedValue = static_cast<T> (getValue());
        typedModulatedValue = static_cast<T> (getModulatedValue());
    }

    RelaxedAtomic<T> typedValue, typedModulatedValue;
};

} // namespace cvx
