namespace cvx
{

Processor::Processor (const juce::String& identifier, State& s, const juce::String& displayName)
    : Serializable (identifier), state (s), name (displayName)
{
    state.serializables[id] = this;
    state.processors[id] = this;
}

Processor::~Processor()
{
    state.serializables.erase (id);
    state.processors.erase (id);
}

} // namespace cvx
