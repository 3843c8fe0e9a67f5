// Mirrors the platform's declarations for a syntax check on Linux; nothing more.
#pragma once

typedef int boolean_t;  // arm64's definition
