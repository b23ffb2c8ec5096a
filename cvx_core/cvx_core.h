/*
 BEGIN_JUCE_MODULE_DECLARATION

  ID:                 cvx_core
  vendor:             Corvane
  version:            0.8.0
  name:               Corvane plug-in library
  description:        Processor base, state model, parameter bindings, settings cache, version
                      check, DSP helpers and widgets shared by Corvane plug-ins.
  license:            Proprietary
  minimumCppStandard: 17

  dependencies:       juce_audio_processors juce_audio_utils juce_dsp juce_gui_basics

 END_JUCE_MODULE_DECLARATION
*/

#pragma once
#define CVX_CORE_H_INCLUDED

// The product that builds this library gives its name (window, settings and preset folders,
// version check) and its version.
#if ! defined (CVX_PRODUCT_NAME) || ! defined (CVX_PRODUCT_VERSION)
 #error "Define CVX_PRODUCT_NAME and CVX_PRODUCT_VERSION (the product's name and version) to build cvx_core"
#endif

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_dsp/juce_dsp.h>
#include <juce_gui_basics/juce_gui_basics.h>

/** Config: CVX_PORTABLE_SIMD
    When 1, the library's and the product's DSP leave out their x86 intrinsics and run the
    portable code that a build for another processor (ARM) runs, so that this code can be
    built and tested on an x86 machine. The framework's own code is not affected. */
#ifndef CVX_PORTABLE_SIMD
 #define CVX_PORTABLE_SIMD 0
#endif

/** 1 where the DSP takes its x86 (SSE) paths, 0 where it takes the portable ones. */
#if JUCE_USE_SSE_INTRINSICS && ! CVX_PORTABLE_SIMD
 #define CVX_USE_SSE_INTRINSICS 1
#else
 #define CVX_USE_SSE_INTRINSICS 0
#endif

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/Identifiers.h"
#include "core/UntrustedXml.h"
#include "core/Serializable.h"
#include "cache/CacheFile.h"
#include "cache/ValueFile.h"
#include "api/Api.h"
#include "api/VersionManager.h"
#include "core/ModulatorMatrix.h"
#include "core/State.h"
#include "core/Processor.h"
#include "core/Parameter.h"
#include "core/AudioProcessor.h"
#include "dsp/Decibels.h"
#include "dsp/Lanes.h"
#include "dsp/SIMD_Interface.h"
#include "dsp/IntegerDelay.h"
#include "dsp/Oversampler.h"
#include "dsp/Compressor.h"
#include "dsp/Limiter.h"
#include "dsp/FFT.h"
#include "ui/SpectrumDisplay.h"
#include "assets/Fonts.h"
#include "assets/Svgs.h"
#include "ui/Component.h"
#include "ui/Button.h"
#include "ui/Slider.h"
#include "ui/ParameterLabel.h"
#include "style/LookAndFeel.h"
#include "ui/PresetFiles.h"
#include "ui/PresetsMenu.h"
#include "ui/ColourPicker.h"
#include "ui/TopBar.h"
