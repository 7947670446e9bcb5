#pragma once

// Shared by the store's files that install and remove apps; not for views.

#include "install/UpdateError.h"
#include "model/Store.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "platform/Permissions.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/Workspace.h"

#include <exception>
#include <memory>

namespace corvanta {

// The installer's platform services: the composition root's, or the platform's own.
struct Store::Platform {
    std::unique_ptr<Ditto> ownDitto;
    std::unique_ptr<Rename> ownRename;
    std::unique_ptr<Trash> ownTrash;
    std::unique_ptr<Workspace> ownWorkspace;
    std::unique_ptr<DiskImages> ownDiskImages;
    std::unique_ptr<Permissions> ownPermissions;

    Ditto* ditto = nullptr;
    Rename* rename = nullptr;
    Trash* trash = nullptr;
    Workspace* workspace = nullptr;
    DiskImages* diskImages = nullptr;
    Permissions* permissions = nullptr;
};

namespace storeFailures {

// The sentence a failure shows: our errors' own, else what the library said.
inline QString describe(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Error& error) {
        return error.description();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
    }
    return QStringLiteral("An unknown error occurred.");
}

inline bool needsPermission(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const UpdateError& error) {
        return error.needsPermission();
    } catch (...) {
    }
    return false;
}

} // namespace storeFailures

} // namespace corvanta
