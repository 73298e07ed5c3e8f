#pragma once

// Shown by every host; the window's about text carries the same words.
#define KESTRAN_VERSION "20/11/03"
