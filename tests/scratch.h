// Every file a test makes lies in one folder of this process's own, so that
// suites running at once, here or from another checkout, never meet, and a
// run that failed leaves nothing in the way of the next.
#pragma once

#include <string>

// The folder: made on first use under $TMPDIR (or /tmp), removed with
// everything in it when this process exits.
const std::string& scratch_folder();

// NAME in the folder; nothing is made.
std::string scratch_path(const std::string& name);

// A new empty file in the folder whose name starts with prefix.
std::string scratch_file(const std::string& prefix);
