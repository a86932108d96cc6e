#ifndef CHARPIC_PICTURE_OPS_H_
#define CHARPIC_PICTURE_OPS_H_

#include <string>

// A character picture: its rows in order, row 0 first, each followed by a
// line feed, in one run of bytes as a file holds them. Every other byte is a
// cell, NUL and carriage return included, and its value is the cell's
// colour. Rows may differ in length.
using Image = std::string;

// Appends the rows of the file at `path` to `image`, printing each row as
// soon as its line feed has been read. A line feed ends a row; a final line
// feed starts no further row, and a last row without one gets one. Returns
// false, after saying why on standard error, when the file cannot be opened
// or read, cannot be held in memory, or is the file that standard output
// writes to.
bool load(const char* path, Image& image);

// Turns every cell of colour `from` into `to` and prints each row once
// changed; then writes the changed picture, each row followed by a line
// feed, to the file at `outputPath` (see writeOutputFile). Rows keep their
// length; a cell turned into a line feed goes out with its row and leaves
// `image` with more line feeds than rows. When the file cannot be written
// the rows are still changed and printed, and the result is false, after
// saying why on standard error.
bool replace(Image& image, char from, char to, const char* outputPath);

// Prints "program", then, row by row, grows colour `c` into every cell whose
// left or right neighbour in the working row, or whose neighbour above or
// below in `image`, holds `c`, printing the working row after each cell.
// Cells are scanned left to right in place, so once a cell holds `c` the rest
// of its row follows. A neighbour outside a row never matches.
void dilation(const Image& image, char c);

// Accepted operations that leave the picture as it is.
void erosion();
void floodfill();

#endif  // CHARPIC_PICTURE_OPS_H_
