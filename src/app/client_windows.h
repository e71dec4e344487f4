// Builds the catalogue's windows for a client with every handler wired:
// the catalogue's own wiring first, then each subsystem's operations.
#pragma once

#include <memory>
#include <string>

#include "roads/client.h"

namespace qorvel {

std::shared_ptr<ui::Window> make_client_window(Client& c, const std::string& id);

// Installs make_client_window as the client's window factory, builds the main
// window and creates it (its created event runs the start-up road). Call on
// the window thread; run the program's loop afterwards.
void start_client(Client& c);

}  // namespace qorvel
