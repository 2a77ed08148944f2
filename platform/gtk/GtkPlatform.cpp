#include "GtkPlatform.h"
#include "AppIndicatorTray.h"
#include "DbusNotificationCenter.h"
#include "GtkApp.h"
#include "GtkDialogs.h"
#include "GtkMainQueue.h"
#include "GtkWindowFactory.h"
#include "GtkWorkspace.h"
#include "KeyFileSettings.h"
#include "LibarchiveUnzip.h"
#include "OpenSslSha256.h"
#include "PlistBundles.h"
#include "PosixFiles.h"
#include "PortalAppearance.h"
#include "PosixProcesses.h"
#include "SoupHttpClient.h"
#include "WebKitEngine.h"
#include "XdgLoginItem.h"

#ifndef NOLAR_APP_ID
#define NOLAR_APP_ID "org.nolar.Nolar"
#endif

namespace platform::gtk {

namespace {

class Services final : public GtkPlatform {
public:
    Services()
        : app(NOLAR_APP_ID),
          windows(app, settings),
          dialogs(app),
          notifications(NOLAR_APP_ID),
          tray(app),
          loginItem(NOLAR_APP_ID),
          services_{app, queue, dialogs, web, windows, notifications, workspace, http,
                    settings, bundles, files, sha256, unzip, processes, tray, appearance, loginItem} {}

    platform::Platform& services() override { return services_; }

private:
    KeyFileSettings settings;
    GtkApp app;
    GtkMainQueue queue;
    GtkWindowFactory windows;
    GtkDialogs dialogs;
    WebKitEngine web;
    DbusNotificationCenter notifications;
    GtkWorkspace workspace;
    SoupHttpClient http;
    PlistBundles bundles;
    PosixFiles files;
    OpenSslSha256 sha256;
    LibarchiveUnzip unzip;
    PosixProcesses processes;
    AppIndicatorTray tray;
    PortalAppearance appearance;
    XdgLoginItem loginItem;
    platform::Platform services_;
};

} // namespace

std::unique_ptr<GtkPlatform> GtkPlatform::create() { return std::make_unique<Services>(); }

} // namespace platform::gtk
