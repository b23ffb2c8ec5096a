#pragma once

namespace cvx
{

/** Asks the maker's web service once, on a background thread, for the latest released version
    of the product and raises a flag when it is newer than the built-in version. One instance
    is shared by every processor of the process through a juce::SharedResourcePointer.

    The thread reads nothing but what the manager owns: a process that ends while a query is
    still under way (a host quitting without destroying its plug-ins) frees nothing it reads. */
class VersionManager : private juce::Thread
{
public:
    /** Starts the query of cvx::api::product_version at once. */
    VersionManager();

    /** Starts the query of the given endpoint (used to point the check at a test server). */
    explicit VersionManager (const juce::String& productVersionAddress);

    /** Aborts a query still under way and joins the thread. Returns within milliseconds,
        whether the service answers, closes the connection or holds it without a word.
        Any thread but the manager's own. */
    ~VersionManager() override;

    /** True when the service reported a version newer than the built-in one. Any thread. */
    bool isNewVersionAvailable() const noexcept { return newVersionAvailable.load(); }

    /** Waits up to timeoutMs (-1: forever) for the query to finish; true when it has.
        The flag no longer changes afterwards. Any thread but the manager's own. */
    bool waitForCompletion (int timeoutMs) const { return waitForThreadToExit (timeoutMs); }

    /** True when the dotted version number `reply` is newer than `current`. A reply holding
        anything but digits and points is never newer. */
    static bool isNewer (const juce::String& reply, const juce::String& current);

    /** The version built into the program, for display (the query uses its own copy). */
    static const juce::String currentVersion;

    /** The product name sent with the query, for display (the query uses its own copy). */
    static const juce::String productName;

private:
    class Request;

    void run() override;

    static constexpr int requestTimeoutMs = 3000;

    const juce::String builtInVersion;
    const std::unique_ptr<Request> request;
    std::atomic<bool> newVersionAvailable { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VersionManager)
};

} // namespace cvx
