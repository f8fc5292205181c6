// The patching layer: instruction decoding, page protection, code writing,
// scoped patches and call hooks.
#pragma once

#include "hooking/patch/call_hook.h"
#include "hooking/patch/code_writer.h"
#include "hooking/patch/instruction.h"
#include "hooking/patch/protection_guard.h"
#include "hooking/patch/scoped_patch.h"
