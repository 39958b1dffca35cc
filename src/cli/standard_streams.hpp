// Standard input, output and error as the run found them. A closed one is reopened on /dev/null,
// so that no file the tool opens later takes its number, and is remembered as closed.
#pragma once

namespace tarvik::cli {

struct StandardStreams {
  bool input_closed = false;
  bool output_closed = false;
};

// Call first, before anything is opened.
StandardStreams guard_standard_streams();

}  // namespace tarvik::cli
