#pragma once

namespace cvx
{

/** A modulation source: its current output (expected in -1..1) and an output scale, both read
    at the time of a lookup. */
class Modulator
{
public:
    virtual ~Modulator() = default;
    virtual float getOutput() const = 0;
    virtual float getOutputScale() const = 0;
};

/** One route from a source to a parameter. Fields are atomics so readers never see torn values. */
struct ModulatorConnection
{
    std::atomic<float> depth { 0.25f };  // normalised parameter units
    std::atomic<bool> bipolar { true };  // map the shaped value from 0..1 to -1..1
    std::atomic<float> curve { 1.0f };   // exponent applied to the source mapped to 0..1
};

/** Routes modulation sources to parameters, keyed by parameter id and then by source id.
    Bindings ask it for their offset on every pull (audio and message threads). */
class ModulatorMatrix : public Serializable
{
public:
    ModulatorMatrix();
    ~ModulatorMatrix() override;

    /** The summed offset for a parameter id, in normalised units; 0 when it has no route.
        Takes only the read lock and never allocates. */
    float getModulation (const juce::String& targetId) const;

    /** False while there is no route or no registered source, when every offset is 0.
        Lock-free. */
    bool mayModulateAny() const noexcept { return mayModulate.load(); }

    /** Writes every route into the given "Modulators" tree. */
    void save (juce::ValueTree& tree) const override;

    /** Replaces all routes by those stored in the given "Modulators" tree. */
    void load (const juce::ValueTree& tree) override;

    /** Registers a source under an id (not owned); replaces an earlier one of that id. */
    void addModulator (const juce::String& sourceId, Modulator* source);
    void removeModulator (const juce::String& sourceId);
    bool hasModulators() const;

    struct StringHash
    {
        size_t operator() (const juce::String& s) const noexcept { return (size_t) s.hash(); }
    };

    using Routes = std::unordered_map<juce::String, std::shared_ptr<ModulatorConnection>, StringHash>;
    using RouteTable = std::unordered_map<juce::String, Routes, StringHash>;

    /** A copy of the route table (for inspection). */
    RouteTable getRoutes() const;

private:
    /** Recomputes mayModulate; call with the write lock held. */
    void updateMayModulate() noexcept { mayModulate.store (! routes.empty() && ! modulators.empty()); }

    juce::ReadWriteLock lock;
    std::unordered_map<juce::String, Modulator*, StringHash> modulators;
    RouteTable routes;

    // False while there is no route or no registered source: every offset is then 0, which
    // getModulation answers without taking the lock (it runs for every binding every block).
    std::atomic<bool> mayModulate { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ModulatorMatrix)
};

} // namespace cvx
