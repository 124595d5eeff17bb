#pragma once
// The game key as the game's installer left it in a Wine prefix. On Linux the game is installed
// into a Wine prefix, whose system.reg then holds GAMEPATH; the launcher's own store does not.
// This source sits in front of the store and answers reads of HKEY_LOCAL_MACHINE
// "Software\Holmgard\VELMARTIDES" from the prefix's system.reg ("Software\Holmgard\VELMARTIDES",
// else "Software\Wow6432Node\Holmgard\VELMARTIDES", where a 32-bit installer writes it) for as
// long as the store itself has no GAMEPATH there. Everything else, and every write, goes to the
// store. The prefix ($WINEPREFIX, else ~/.wine) is looked up at each read; a prefix without
// system.reg (or with a folder of that name) is no source, while a system.reg that is there but
// can not be read (a FIFO, a device, a read error, a size beyond reason) makes reads of the game
// key fail, with the reason in lastError(). The prefix's files are only ever read, never waited
// for, and read within a bound of memory.
#include "platform/registry/RegistryBackend.h"

#include <memory>

namespace velmar {

std::unique_ptr<RegistryBackend> withWinePrefixGameKey(std::unique_ptr<RegistryBackend> store);

} // namespace velmar
