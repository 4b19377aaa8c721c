#pragma once

// The host library is built with hidden visibility; CORVANE_API marks what it
// exports to applications and extensions.
#define CORVANE_API __attribute__((visibility("default")))
