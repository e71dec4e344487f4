#pragma once

namespace qorvel::service {

class Store;

// Demo accounts, folders and files; a second run adds nothing.
void seed_demo(Store& store);

}  // namespace qorvel::service
