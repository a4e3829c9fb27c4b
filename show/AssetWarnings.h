#pragma once
// The word a show maker gets about an asset the show had to do without: a picture, cube map,
// effect, shader or the music that is missing or cannot be used. The show goes on without it, as
// it always has, but never silently: one line on standard error per asset, in every build,
// and a count that --strict turns into a failed run.

#include <string>

#include "show/Show.h"  // AssetWarningCount, ResetAssetWarnings

// "Quorvanteplidusk: warning: <What>: <Reason>" on standard error. What names the asset, e.g.
// the archive entry ("Quorvanteplidusk.vkr entry \"Floor\"") or the music file.
void AssetWarning(const std::string& What, const std::string& Reason);
// AssetWarning for an entry of the show's archive.
void EntryWarning(const std::string& EntryName, const std::string& Reason);
// The reason an archive entry could not be read, for a loader whose ReadByName failed: the
// entry is missing, or it is there with a damaged name (then named with its number).
void WarnMissingEntry(const std::string& EntryName);
// Once everything is loaded: the entries with a damaged name that no loader asked for by the name
// they most likely had, each with its number.
void WarnDamagedEntries();

// Why a D3DX load of an entry of Size bytes failed with hr: the decoder's or parser's words when
// it gave any, otherwise what the result code says.
std::string D3DXFailureReason(long hr, long long Size);
