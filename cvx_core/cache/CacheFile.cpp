namespace cvx::cache
{

CacheFile::CacheFile (const juce::File& f, const juce::String& nameOfThread)
    : juce::Thread (nameOfThread), file (f)
{
}

CacheFile::~CacheFile()
{
    stopThread (5000);
}

bool CacheFile::save()
{
    const juce::ScopedLock sl (lock);

    file.create();

    if (fileSaver)
        return fileSaver (file);

    if (streamSaver)
    {
        auto stream = std::make_unique<juce::FileOutputStream> (file, 32768);
        if (! stream->openedOk())
            return false;

        stream->setPosition (0);
        stream->truncate();
        return streamSaver (stream);
    }

    return false;
}

bool CacheFile::load()
{
    bool result = false;

    {
        const juce::ScopedLock sl (lock);

        file.create();

        if (fileLoader)
        {
            result = fileLoader (file);
        }
        else if (streamLoader)
        {
            auto stream = std::make_unique<juce::FileInputStream> (file);
            result = stream->openedOk() && streamLoader (stream);
        }
    }

    if (result && ! started)
    {
        started = true;
        if (interval > 0)
            startThread (juce::Thread::Priority::normal);
    }

    return result;
}

void CacheFile::run()
{
    while (! threadShouldExit())
    {
        if (dirty.exchange (false))
            save();

        wait (interval * 1000);
    }
}

} // namespace cvx::cache
