// The storage browser's requests and answer readers live in the service API
// layer; this name stays for the code that includes it.
#pragma once

#include "api/storage_answers.h"
