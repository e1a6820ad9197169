#include "repair/run_folder_trust.h"

namespace kestrix {

namespace {

bool IsTrusted(Principal who) {
    return who != Principal::Other;
}

// The verdict on one of the two, Administrators when it passes.
TrustVerdict Judge(const Ownership& ownership, bool manifest) {
    TrustVerdict verdict{FolderTrust::Other, manifest, std::nullopt, false};
    if (!IsTrusted(ownership.owner)) {
        return verdict;
    }
    if (!ownership.access) {
        verdict.noAccessList = true;
        return verdict;
    }
    for (const auto& entry : *ownership.access) {
        if (entry.allows && !entry.inheritOnly && !IsTrusted(entry.who) &&
            (entry.rights & kChangingRights) != 0) {
            verdict.writer = entry.name;
            return verdict;
        }
    }
    verdict.trust = FolderTrust::Administrators;
    return verdict;
}

}  // namespace

TrustVerdict JudgeRunFolder(const Ownership& folder, const Ownership& manifest) {
    if (!folder.kept || !manifest.kept) {
        return {FolderTrust::NoOwners, false, std::nullopt, false};
    }
    if (auto verdict = Judge(folder, false); verdict.trust != FolderTrust::Administrators) {
        return verdict;
    }
    return Judge(manifest, true);
}

}  // namespace kestrix
