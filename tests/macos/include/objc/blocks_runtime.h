// Mirrors the platform's declarations for a syntax check on Linux; nothing more.
#pragma once
#include <Block.h>
