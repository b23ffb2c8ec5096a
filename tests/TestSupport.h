#pragma once

#include <gtest/gtest.h>
#include <cvx_core/cvx_core.h>

namespace vyx::test
{

/** The temporary folder that HOME points at for the whole test process. */
juce::File getTestHome();

/** Runs the message loop for up to the given time, or until the predicate holds. */
bool runMessageLoopUntil (std::function<bool()> predicate, int timeoutMs = 2000);

} // namespace vyx::test
