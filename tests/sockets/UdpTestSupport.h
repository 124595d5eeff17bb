#pragma once
// Helpers for the socket tests: the shared UDP stand-in on 127.0.0.1 playing the other end, a
// free port for an endpoint to bind, and waiting on the Qt event loop.
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/UdpStandIn.h"
