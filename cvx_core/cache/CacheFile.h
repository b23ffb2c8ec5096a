#pragma once

namespace cvx::cache
{

/** A file on disk with pluggable load and save functions, saved on request by a background
    thread. Loading and saving are serialised by one lock, whichever thread runs them.
    Failures only show in the boolean results. */
class CacheFile : public juce::Thread
{
public:
    /** file: the file on disk; nameOfThread: name of the background save thread. */
    CacheFile (const juce::File& file, const juce::String& nameOfThread);
    ~CacheFile() override;

    /** Writes the file now, on the calling thread. Returns false when nothing could write it. */
    bool save();

    /** Reads the file now, on the calling thread. The first successful load starts the save
        thread when the interval is above zero. */
    bool load();

    /** Background loop: saves whenever a save was requested, then sleeps for the interval. */
    void run() override;

    const juce::File& getFile() const noexcept { return file; }

    std::function<bool (std::unique_ptr<juce::FileOutputStream>&)> streamSaver;
    std::function<bool (std::unique_ptr<juce::FileInputStream>&)> streamLoader;
    std::function<bool (juce::File&)> fileSaver;
    std::function<bool (const juce::File&)> fileLoader;
    std::function<void()> reset;

protected:
    juce::CriticalSection lock;
    juce::File file;
    int interval = -1;       // seconds between background saves; -1: never
    bool started = false;
    std::atomic<bool> dirty { false };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CacheFile)
};

} // namespace cvx::cache
