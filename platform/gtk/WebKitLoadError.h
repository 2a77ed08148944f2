#pragma once
#include <gio/gio.h>
#include <string>

#include "platform/WebView.h"

namespace platform::gtk {

// How a failed load reads to the system. Transport failures are those where the server could
// not be reached or spoke no usable HTTP (socket, name resolution, TLS, the engine's network
// errors); the engine's policy errors, such as the interruption that follows an ignored or
// downloaded main-frame response, are not.
platform::LoadError makeLoadError(const std::string& domain, int code, const std::string& description);
platform::LoadError makeLoadError(const GError& error);
// A certificate the engine refused; the engine reports no GError for it.
platform::LoadError makeTlsLoadError(GTlsCertificateFlags errors);

} // namespace platform::gtk
