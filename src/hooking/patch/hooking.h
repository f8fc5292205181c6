// The patching layer: code access, scoped patches and call hooks.
#pragma once

#include "hooking/patch/call_hook.h"
#include "hooking/patch/code_access.h"
#include "hooking/patch/scoped_patch.h"
