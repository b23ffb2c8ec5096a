#pragma once

#ifndef CVX_SERVICE_URL
 #define CVX_SERVICE_URL "https://www.corvane.com/api"
#endif

namespace cvx::api
{

/** Base address of the maker's web service: scheme and host, no trailing slash. */
static const juce::String url { CVX_SERVICE_URL };

/** Endpoint that answers the latest released version of a product as plain text. */
static const juce::String product_version { url + "/product_version" };

} // namespace cvx::api
