#include "AppConfig.h"
#include "BuildNumber.h"
#include "FilePath.h"
#include "Log.h"
#include "Resources.h"
#include "Updater.h"
#include "Uuid.h"

namespace {

const char* const unpackFailed = "Не удалось распаковать обновление.";
const char* const notOurUpdate = "Архив обновления не похож на новую версию Нолара.";

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

std::optional<std::string> Updater::install(const std::string& zip, const std::string& sha) {
    // Hashed in blocks: the archive is never held in memory as a whole.
    auto digest = platform.sha256.hexDigestOfFile(zip);
    if (!digest) return "Файл обновления повреждён.";
    if (*digest != sha) {
        Log::write("sha mismatch: got " + *digest + " want " + sha);
        return "Контрольная сумма не совпала — обновление отменено ради безопасности.";
    }
    std::string newBundle;
    if (auto failure = unpack(zip, newBundle)) return failure;
    auto build = validBuildOf(newBundle);
    if (!build) return notOurUpdate;
    // No download quarantine attribute exists on Linux, so there is nothing to strip from the bundle.

    auto script = FilePath::join(platform.files.temporaryDirectory(), "nolar-apply-update-" + newUuid() + ".sh");
    if (!platform.files.writeNewPrivateFile(script, Resources::apply_update_sh()))
        return "Не удалось подготовить установку.";
    // "--": a script path that began with "-" would otherwise be read as an option of bash.
    std::vector<std::string> args{"--", script, std::to_string(platform.processes.pid()), platform.bundles.main().path(),
                                  newBundle, FilePath::parent(zip)};
    if (!platform.processes.spawnDetached("/bin/bash", args)) return "Не удалось запустить установку.";
    Log::write("update: build " + std::to_string(*build) + " staged, restarting");
    // The line must reach the file before the script, which waits for this process, appends its own.
    Log::flush();
    platform.app.terminate();
    return std::nullopt;
}

// Unpacks beside the archive and finds the bundle at the archive's top level.
std::optional<std::string> Updater::unpack(const std::string& zip, std::string& newBundle) {
    auto target = FilePath::join(FilePath::parent(zip), "unpacked");
    if (!platform.unzip.extract(zip, target)) return unpackFailed;
    auto names = platform.files.list(target);
    if (!names) return unpackFailed;
    for (const auto& name : *names) {
        if (endsWith(name, ".app")) {
            newBundle = FilePath::join(target, name);
            // A link would have the installer copy whatever it points to.
            return platform.files.isFolder(newBundle) ? std::nullopt : std::optional<std::string>(unpackFailed);
        }
    }
    return unpackFailed;
}

// The new bundle's build when it is a newer build of this same application.
std::optional<int64_t> Updater::validBuildOf(const std::string& bundle) const {
    auto candidate = platform.bundles.open(bundle);
    if (!candidate) return std::nullopt;
    // Both identifiers absent counts as the same application.
    if (candidate->identifier() != platform.bundles.main().identifier()) return std::nullopt;
    auto build = parseBuildNumber(candidate->infoString("CFBundleVersion").value_or(""));
    if (!build || *build <= AppConfig::build()) return std::nullopt;
    return build;
}
