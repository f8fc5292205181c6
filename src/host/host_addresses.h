// Where the game's functions, variables and hooked call sites lie, as the
// executable links them. Plain numbers, for any build that names them.
#pragma once

#include "hooking/host_version.h"

namespace host {

using hooking::host_address;

namespace addr {
constexpr host_address load_txd = 0x5B3860;  // through a host reference
constexpr host_address tex_dictionary_for_all_textures = 0x7F3730;
constexpr host_address tex_dictionary_find_named_texture = 0x7F39F0;
constexpr host_address tex_dictionary_destroy = 0x7F36A0;
constexpr host_address im3d_transform = 0x7EF450;
constexpr host_address im3d_render_primitive = 0x7EF6B0;
constexpr host_address im3d_end = 0x7EF520;
constexpr host_address im3d_render_indexed_primitive = 0x7EF550;
constexpr host_address process_vertical_line = 0x5674E0;  // CWorld::ProcessVerticalLine
constexpr host_address player_pedestrian = 0x56E210;
constexpr host_address engine_instance = 0xC97B24;
constexpr host_address ped_pool = 0xB74490;
constexpr host_address current_area = 0xB72914;  // through a host reference
constexpr host_address camera = 0xB6F028;        // through a host reference
constexpr host_address game_clock = 0xB7CB84;    // milliseconds, unsigned; stands still while paused
constexpr host_address find_active_task = 0x681740;  // CTaskManager::FindActiveTaskByType, thiscall
constexpr host_address ped_groups = 0xC09920;        // CPedGroups: eight groups
constexpr host_address player_wanted = 0xB7CD9C;     // the player's CWanted*

// What CHud::Draw and Render2dStuff ask before they draw the HUD.
constexpr host_address widescreen_on = 0xB6F065;     // bool, TheCamera.m_bWideScreenOn: cutscenes, scripted scenes
constexpr host_address display_hud = 0xA444A0;       // bool, CTheScripts::bDisplayHud: false while a mission hides it
constexpr host_address menu_hud_on = 0xBA6769;       // bool, the menu's m_bHudOn
constexpr host_address replay_mode = 0xA43088;       // int8, CReplay::Mode: 1 while a replay plays
constexpr host_address taking_photo = 0xC8A7C1;      // bool, CWeapon::ms_bTakePhoto
constexpr host_address cinematic_frame = 0xB6EC40;   // uint32: the frame counter while the cinematic camera runs
constexpr host_address frame_counter = 0xB7CB4C;     // uint32, CTimer::m_FrameCounter
constexpr host_address cutscene_running = 0xB5F851;  // int8, CCutsceneMgr::ms_running

constexpr host_address start_up_site = 0x5BF3A1;
constexpr host_address drawing_site = 0x53E293;
constexpr host_address shutdown_site = 0x53D910;
// The three hooked call sites, in the order the plugin patches them.
constexpr host_address event_sites[3] = {start_up_site, drawing_site, shutdown_site};
}  // namespace addr

}  // namespace host
