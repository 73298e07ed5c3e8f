// Which code page the names handed to the core are in, on Windows: the ANSI code page, as the
// window gets them from Explorer, unless the host asks for UTF-8, as the command line does (it
// reads its arguments as wide characters). The file layer opens every name by its wide form.
#pragma once

void UseUtf8Names();
unsigned NameCodePage();
