namespace cvx
{

const juce::String VersionManager::currentVersion { CVX_PRODUCT_VERSION };
const juce::String VersionManager::productName { CVX_PRODUCT_NAME };

VersionManager::VersionManager() : VersionManager (api::product_version) {}

VersionManager::VersionManager (const juce::String& productVersionAddress)
    : juce::Thread (productName + " - Version Manager"),
      address (productVersionAddress)
{
    startThread (juce::Thread::Priority::background);
}

VersionManager::~VersionManager()
{
    // The request gives up after its time-out; wait for that rather than killing the thread
    // in the middle of a network call, which could leave the HTTP library's locks taken.
    stopThread (requestTimeoutMs + 2000);
}

bool VersionManager::isNewer (const juce::String& reply, const juce::String& current)
{
    if (! reply.containsOnly ("0123456789."))
        return false;

    juce::StringArray remote, local;
    remote.addTokens (reply, ".", "");
    local.addTokens (current, ".", "");

    const int common = std::min (remote.size(), local.size());
    for (int i = 0; i < common; ++i)
    {
        const int r = remote[i].getIntValue();
        const int l = local[i].getIntValue();
        if (r != l)
            return r > l;
    }

    // Only the first extra component counts: 0.8.0.1 is newer than 0.8.0, 0.8.0.0.5 is not.
    return remote.size() > local.size() && remote[local.size()].getIntValue() > 0;
}

void VersionManager::run()
{
    const juce::URL query (address + "?product=" + productName);
    const auto options = juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                             .withConnectionTimeoutMs (requestTimeoutMs);

    juce::String reply;
    if (auto stream = query.createInputStream (options))
        reply = stream->readEntireStreamAsString();

    if (! threadShouldExit() && isNewer (reply, currentVersion))
        newVersionAvailable.exchange (true);
}

} // namespace cvx
