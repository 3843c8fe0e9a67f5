// The notch probe's one pass: choose a screen, measure it, write the line.
#pragma once

namespace notch {

// Chooses the screen, measures it and hands the report line to buffered
// standard output: the full line, or {"notched":false} when there is no
// screen at all.
void probe();

}  // namespace notch
