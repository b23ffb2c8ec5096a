namespace cvx
{

ModulatorMatrix::ModulatorMatrix() : Serializable ("Modulators") {}

ModulatorMatrix::~ModulatorMatrix() = default;

float ModulatorMatrix::getModulation (const juce::String& targetId) const
{
    // A route whose source is not registered contributes nothing, so without both there is
    // nothing to sum.
    if (! mayModulate.load())
        return 0.0f;

    const juce::ScopedReadLock sl (lock);

    const auto target = routes.find (targetId);
    if (target == routes.end())
        return 0.0f;

    float sum = 0.0f;
    for (const auto& [sourceId, connection] : target->second)
    {
        // A route whose source is not registered contributes nothing.
        const auto source = modulators.find (sourceId);
        if (source == modulators.end() || source->second == nullptr)
            continue;

        auto u = std::pow (source->second->getOutput() * 0.5f + 0.5f, connection->curve.load());
        if (connection->bipolar.load())
            u = 2.0f * u - 1.0f;

        sum += connection->depth.load() * (u * source->second->getOutputScale());
    }
    return sum;
}

void ModulatorMatrix::save (juce::ValueTree& tree) const
{
    const juce::ScopedReadLock sl (lock);

    for (const auto& [targetId, targetRoutes] : routes)
    {
        auto targetTree = tree.getOrCreateChildWithName (targetId, nullptr);
        for (const auto& [sourceId, connection] : targetRoutes)
        {
            auto sourceTree = targetTree.getOrCreateChildWithName (sourceId, nullptr);
            sourceTree.setProperty ("Depth", (double) connection->depth.load(), nullptr);
            sourceTree.setProperty ("Bipolar", connection->bipolar.load(), nullptr);
            sourceTree.setProperty ("Curve", (double) connection->curve.load(), nullptr);
        }
    }
}

void ModulatorMatrix::load (const juce::ValueTree& tree)
{
    RouteTable loaded;

    for (const auto& targetTree : tree)
    {
        auto& targetRoutes = loaded[targetTree.getType().toString()];
        for (const auto& sourceTree : targetTree)
        {
            auto connection = std::make_shared<ModulatorConnection>();
            connection->depth = (float) (double) sourceTree.getProperty ("Depth", 0.25);
            connection->bipolar = (bool) sourceTree.getProperty ("Bipolar", true);
            connection->curve = (float) (double) sourceTree.getProperty ("Curve", 1.0);
            targetRoutes[sourceTree.getType().toString()] = std::move (connection);
        }
    }

    {
        const juce::ScopedWriteLock sl (lock);
        std::swap (routes, loaded);
        updateMayModulate();
    }
    // The previous table is destroyed here, outside the lock.
}

void ModulatorMatrix::addModulator (const juce::String& sourceId, Modulator* source)
{
    const juce::ScopedWriteLock sl (lock);
    modulators[sourceId] = source;
    updateMayModulate();
}

void ModulatorMatrix::removeModulator (const juce::String& sourceId)
{
    const juce::ScopedWriteLock sl (lock);
    modulators.erase (sourceId);
    updateMayModulate();
}

bool ModulatorMatrix::hasModulators() const
{
    const juce::ScopedReadLock sl (lock);
    return ! modulators.empty();
}

ModulatorMatrix::RouteTable ModulatorMatrix::getRoutes() const
{
    const juce::ScopedReadLock sl (lock);
    return routes;
}

} // namespace cvx
