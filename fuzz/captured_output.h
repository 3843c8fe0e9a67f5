// What a piece of code writes to standard output, caught in memory, so that
// a fuzz target can judge the bytes a program would print.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// Runs `body` with stdout sent to a memory stream and returns what it wrote.
template <typename Body>
std::string capturedOutput(Body body) {
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* const saved = stdout;
  stdout = open_memstream(&buffer, &size);
  if (stdout == nullptr) std::abort();
  body();
  std::fclose(stdout);
  stdout = saved;
  std::string result(buffer, size);
  std::free(buffer);
  return result;
}
