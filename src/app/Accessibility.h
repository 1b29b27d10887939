#pragma once

// What a screen reader is told about the windows that Qt cannot describe by itself:
// the version history's grid, which draws its cells itself, is a table of rows and
// cells, its header row the columns' headers; the engineering terminal is a window
// with its caption. Safe to call any number of times.
void installAccessibleInterfaces();
