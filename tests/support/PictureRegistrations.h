// Lets a test register picture classes without leaving them behind: it
// starts from an empty registry, so that it sees only its own registrations,
// and the registrations as they were come back when the scope ends. Tests
// so pass in any order.
#pragma once

#include <utility>
#include <vector>

#include "Graphics.h"

class TPictureRegistrationsScope {
public:
    TPictureRegistrationsScope() : saved_(TPicture::Registrations()) { TPicture::RestoreRegistrations({}); }
    ~TPictureRegistrationsScope() { TPicture::RestoreRegistrations(std::move(saved_)); }
    TPictureRegistrationsScope(const TPictureRegistrationsScope&) = delete;
    TPictureRegistrationsScope& operator=(const TPictureRegistrationsScope&) = delete;

private:
    std::vector<TPicture::Registration> saved_;
};
