// The temporary folder a run writes its parts into: a fresh "quilXXXXXX" folder under $TMPDIR
// (or /tmp), and its removal with every part file in it.
#pragma once

#include <string>

namespace quillon {

// Creates the folder; on success folder ends with "/". False when it cannot be created.
[[nodiscard]] bool MakeTemporaryFolder(std::string& folder);
// Deletes "encoded.swf" and every "encodedN.swf" in the folder, whatever the number of parts
// the run got to report (a failed or cancelled run leaves parts it never counted), then removes
// the folder if that leaves it empty. An empty folder argument does nothing.
void RemoveTemporaryParts(const std::string& folder);

}  // namespace quillon
