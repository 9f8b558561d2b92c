// The sample disk's description, built into the library so that the tool
// needs no file beside it to write the sample.
#include "builder/odibuild.h"
#include "sample_json.h"

namespace odibuild {

std::string_view sampleDescription() {
  return {kSampleJson, sizeof kSampleJson - 1};
}

}  // namespace odibuild
