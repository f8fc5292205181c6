#include "overlay/ring_ground.h"

#include <algorithm>
#include <cmath>

namespace overlay {
namespace {

// A pedestrian that moved less than this since the last event stands: its
// disc is asked again, a few cells an event, to find what is put down.
constexpr float standing_within = 0.05f;
constexpr int rescan_events = 27;  // a whole disc within 30 events
constexpr int object_reask_events = 10;
constexpr float beyond_edge = 0.05f;
constexpr int box_halvings = 4;  // a grid step halved to under 0.02
// The hub's query reaches this far below the feet, as the game's shadows do.
constexpr float centre_reach = host::ped_feet_below + host::shadow_reach;
constexpr float on_feet_within = 0.03f;
constexpr float stepped_within = 0.01f;

std::size_t torus_index(std::int32_t side, std::int32_t ix, std::int32_t iy) {
  const auto wrap = [side](std::int32_t i) { return static_cast<std::size_t>(((i % side) + side) % side); };
  return wrap(ix) * static_cast<std::size_t>(side) + wrap(iy);
}

std::int32_t grid_index(float at) { return static_cast<std::int32_t>(std::floor(at / ground_step + 0.5f)); }
float grid_at(std::int32_t i) { return static_cast<float>(i) * ground_step; }

void reset(slot_ground& g, std::uint8_t status) {
  g.valid = true;
  g.status = status;
  g.has_centre = false;
  g.on_ground = false;
  g.centre_asked = -1;
  g.vehicle = nullptr;
  g.patch_count = 0;
  g.triangle_count = 0;
  g.job_count = 0;
  g.scanned = false;
  g.settled = false;
  g.rescan_cursor = 0;
  g.rescan_credit = 0.0f;
  g.waiting_since = -1;
  for (ground_cell& c : g.cells) c = ground_cell{};
}

}  // namespace

// One ring's queries in one event.
struct ground_memory::asking {
  ground_memory& memory;
  slot_ground& g;
  float x, y, z;
  std::int32_t event;
  query_budget& budget;
  float end_z = 0.0f;  // where parts' queries stop: below every ground a part follows
  bool starved = false;

  bool afford() {
    if (budget.left > 0) return true;
    starved = true;
    return false;
  }

  bool near_enough(float px, float py, float margin) const {
    const float dx = px - x, dy = py - y, r = memory.reach_ + margin;
    return dx * dx + dy * dy <= r * r;
  }

  // The highest patch over (px, py) that a ring climbing from ref reaches.
  int patch_under(float px, float py, float ref) const {
    int best = -1;
    double best_z = 0.0;
    for (int i = 0; i < g.patch_count; ++i) {
      const ground_patch& p = g.patches[i];
      if (!p.contains(px, py)) continue;
      const double h = p.height(px, py);
      if (h <= ref + ground_climb + coplanar_within && (best < 0 || h > best_z)) best = i, best_z = h;
    }
    return best;
  }

  void drop(int index) {
    ground_patch& p = g.patches[index];
    g.triangle_count = static_cast<std::uint8_t>(g.triangle_count - p.triangles);
    for (int i = index; i + 1 < g.patch_count; ++i) g.patches[i] = g.patches[i + 1];
    --g.patch_count;
    g.settled = false;
    for (ground_cell& c : g.cells) {
      if (c.patch == index) {
        c.patch = -1;
        c.known = false;  // asked again, or found inside what is known
      } else if (c.patch > index) {
        --c.patch;
      }
    }
    for (int j = 0; j < g.job_count;) {
      ground_job& job = g.jobs[j];
      if (job.box == index) {
        g.jobs[j] = g.jobs[--g.job_count];
        continue;
      }
      if (job.box > index) --job.box;
      ++j;
    }
  }

  // A walker's patches left behind make room for those ahead, once room
  // runs short: walking back, it finds them known.
  void forget_behind() {
    constexpr int keep_free = 8;
    if (g.patch_count + keep_free <= max_ground_patches && g.triangle_count + keep_free <= max_ground_triangles) return;
    const float r = memory.reach_ + ground_step;
    for (int i = g.patch_count - 1; i >= 0; --i) {
      const ground_patch& p = g.patches[i];
      if (p.max_x < x - r || p.min_x > x + r || p.max_y < y - r || p.min_y > y + r) drop(i);
    }
  }

  void queue(const ground_job& job) {
    for (int i = 0; i < g.job_count; ++i) {
      const ground_job& q = g.jobs[i];
      if (q.box == job.box && std::fabs(q.x - job.x) + std::fabs(q.y - job.y) < 0.02f) return;
    }
    if (g.job_count < slot_ground::max_jobs) g.jobs[g.job_count++] = job;
  }

  // Just beyond each edge of a triangle newly kept, where it runs under the
  // disc: the ground next to it, so that the ring follows it to its edges.
  void follow_edges(const ground_patch& t) {
    for (int i = 0; i < t.corners; ++i) {
      const int j = i + 1 == t.corners ? 0 : i + 1;
      const float ax = t.px[i], ay = t.py[i], ex = t.px[j] - ax, ey = t.py[j] - ay;
      const float length = std::sqrt(ex * ex + ey * ey);
      if (!(length > 1e-4f)) continue;
      const float out_x = ey / length * beyond_edge, out_y = -ex / length * beyond_edge;
      // From the edge's point nearest the centre, every two grid steps either way.
      float s = ((x - ax) * ex + (y - ay) * ey) / (length * length);
      const float step = 2.0f * ground_step / length;
      for (float k : {0.0f, -1.0f, 1.0f, -2.0f, 2.0f}) {
        const float at = std::clamp(s + k * step, 0.02f, 0.98f);
        const float px = ax + ex * at, py = ay + ey * at;
        if (!near_enough(px, py, 2.0f * ground_step)) continue;
        ground_job job;
        job.x = px + out_x;
        job.y = py + out_y;
        job.top = static_cast<float>(t.height(px, py)) + ground_climb;
        queue(job);
      }
    }
  }

  // What a query met, as the ring's ground: the patch it is kept in, or -1
  // (nothing met, a wall, another vehicle than the one stood on, no room).
  int keep(const host::ground_hit& hit, const float probe[3]) {
    if (hit.kind == host::entity_type::ped) return -1;
    if (hit.kind == host::entity_type::vehicle && hit.entity != g.vehicle) return -1;
    ground_patch met;
    if (!(hit.triangle ? patch_of_triangle(hit.corners, &met) : patch_of_box(hit.point, hit.normal, &met))) return -1;
    met.kind = hit.kind;
    met.entity = hit.entity;
    std::copy(probe, probe + 3, met.probe);
    met.asked = event;
    for (int i = 0; i < g.patch_count; ++i) {
      ground_patch& p = g.patches[i];
      if (!same_surface(p, met)) continue;
      p.asked = event;
      if (p.box) add_box_point(p, hit.point[0], hit.point[1]);
      return i;
    }
    if (g.triangle_count >= max_ground_triangles) return -1;
    for (int i = 0; i < g.patch_count; ++i) {
      if (!join_triangle(g.patches[i], met)) continue;
      g.patches[i].asked = event;
      ++g.triangle_count;
      follow_edges(met);
      return i;
    }
    if (g.patch_count >= max_ground_patches) return -1;
    g.patches[g.patch_count] = met;
    ++g.triangle_count;
    if (!met.box) follow_edges(met);
    return g.patch_count++;
  }

  // One query down from top at (px, py); the patch met, or -1.
  int ask(float px, float py, float top, float bottom) {
    --budget.left;
    const float origin[3] = {px, py, top};
    host::ground_hit hit;
    if (!host::host_vertical_line(origin, bottom, &hit)) return -1;
    return keep(hit, origin);
  }

  void centre_ground() {
    // The highest patch known under the hub, from the pedestrian's position
    // down; stood on a vehicle, the hub is asked every event: vehicles move.
    int under = -1;
    if (g.vehicle == nullptr) {
      // A patch lower than the centre's ground was may be one that other
      // ground hides (a plaza under a stair): stepping down is asked.
      under = patch_under(x, y, z - ground_climb);
      const double floor = g.has_centre ? g.centre - stepped_within : z - centre_reach;
      if (under >= 0 && !(g.patches[under].height(x, y) >= floor)) under = -1;
      // Or what the cell it stands in met, stepping down included.
      const ground_cell& c = g.cells[torus_index(memory.side_, grid_index(x), grid_index(y))];
      if (under < 0 && c.valid && c.known && c.ix == grid_index(x) && c.iy == grid_index(y) && c.patch >= 0 &&
          g.patches[c.patch].contains(x, y) && g.patches[c.patch].height(x, y) <= z &&
          g.patches[c.patch].height(x, y) >= z - centre_reach) {
        under = c.patch;
      }
    }
    if (under < 0) {
      // Nothing under it last time either: asked again only now and then, or once it moves.
      const bool retry = g.has_centre || g.centre_asked < 0 || event - g.centre_asked >= rescan_events ||
                         std::fabs(g.last[0] - x) + std::fabs(g.last[1] - y) >= standing_within;
      if (!retry || !afford()) return;
      g.centre_asked = event;
      const float origin[3] = {x, y, z};
      host::ground_hit hit;
      --budget.left;
      const bool met = host::host_vertical_line(origin, z - centre_reach, &hit);
      const void* stood_on = met && hit.kind == host::entity_type::vehicle ? hit.entity : nullptr;
      if (stood_on != g.vehicle) {
        // On or off a vehicle: its patches are ground only while it is stood on.
        for (int i = g.patch_count - 1; i >= 0; --i) {
          if (g.patches[i].kind == host::entity_type::vehicle) drop(i);
        }
        g.vehicle = stood_on;
      }
      under = met ? keep(hit, origin) : -1;
      g.has_centre = under >= 0;
      if (!g.has_centre) return;
    }
    g.has_centre = true;
    g.centre = static_cast<float>(g.patches[under].height(x, y));
    g.on_ground = std::fabs(g.centre - (z - host::ped_feet_below)) <= on_feet_within;
  }

  // Patches that may have moved or gone: a vehicle's every event, an
  // object's every ten.
  void ask_again() {
    for (int i = 0; i < g.patch_count; ++i) {
      ground_patch& p = g.patches[i];
      if (!p.moves() || p.asked == event) continue;
      if (p.kind == host::entity_type::object && event - p.asked < object_reask_events) continue;
      if (!afford()) return;
      const float px = p.probe[0], py = p.probe[1], top = p.probe[2];
      if (ask(px, py, top, std::min(end_z, top - 2.0f * ground_climb)) == i) continue;
      // Gone, or moved: what is there now is kept, and the cells it held asked again.
      drop(i);
      --i;
    }
  }

  // Ground known just beyond an edge, as high as the edge or higher; lower
  // ground known there may lie under what the query would meet.
  bool known_beyond(const ground_job& job) const {
    const float edge = job.top - ground_climb;
    const int k = patch_under(job.x, job.y, edge);
    return k >= 0 && g.patches[k].height(job.x, job.y) >= edge - stepped_within;
  }

  void run_jobs() {
    int j = 0;
    while (j < g.job_count) {
      ground_job& job = g.jobs[j];
      const bool box = job.box >= 0;
      if (!near_enough(job.x, job.y, 2.0f * ground_step) || (!box && known_beyond(job))) {
        g.jobs[j] = g.jobs[--g.job_count];  // no longer under the disc, or known by now
        continue;
      }
      if (!afford()) return;
      if (!box) {
        ground_job done = job;
        g.jobs[j] = g.jobs[--g.job_count];
        ask(done.x, done.y, done.top, end_z);
        continue;
      }
      const float mx = (job.x + job.off_x) * 0.5f, my = (job.y + job.off_y) * 0.5f;
      const std::int8_t target = job.box;
      const int met = ask(mx, my, static_cast<float>(g.patches[target].height(mx, my)) + ground_climb, end_z);
      // ask() may have dropped nothing, but the job list may have moved: find it again.
      ground_job& again = g.jobs[j];
      if (met == target) {
        again.x = mx, again.y = my;
      } else {
        again.off_x = mx, again.off_y = my;
      }
      if (++again.halvings >= box_halvings) {
        g.jobs[j] = g.jobs[--g.job_count];
        continue;
      }
    }
  }

  // Halving towards a box's edge where a cell on its top and one off it meet.
  void halve_to_boxes(const ground_cell& c, std::size_t side) {
    // The diagonals too: they find the edges near a box's corners.
    const std::int32_t steps[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};
    for (const auto& d : steps) {
      const ground_cell& n = g.cells[torus_index(static_cast<std::int32_t>(side), c.ix + d[0], c.iy + d[1])];
      if (!n.valid || !n.known || n.ix != c.ix + d[0] || n.iy != c.iy + d[1] || n.patch == c.patch) continue;
      const bool on_c = c.patch >= 0 && g.patches[c.patch].box;
      const bool on_n = n.patch >= 0 && g.patches[n.patch].box;
      if (!on_c && !on_n) continue;
      const ground_cell& on = on_c ? c : n;
      const ground_cell& off = on_c ? n : c;
      ground_job job;
      job.box = on.patch;
      job.x = grid_at(on.ix);
      job.y = grid_at(on.iy);
      job.off_x = grid_at(off.ix);
      job.off_y = grid_at(off.iy);
      queue(job);
    }
  }

  // The ground a cell's query climbs from: its neighbour's towards the centre.
  float ref_of(std::size_t k, std::int32_t cx, std::int32_t cy, int* patch = nullptr) const {
    const std::vector<offset>& spiral = memory.spiral_;
    if (patch) *patch = -1;
    if (spiral[k].parent < 0) return g.centre;
    const offset& o = spiral[static_cast<std::size_t>(spiral[k].parent)];
    const ground_cell& parent = g.cells[torus_index(memory.side_, cx + o.dx, cy + o.dy)];
    const bool held = parent.valid && parent.known && parent.ix == cx + o.dx && parent.iy == cy + o.dy;
    if (held && patch) *patch = parent.patch;
    return held ? parent.ref : g.centre;
  }

  ground_cell& cell_at(std::int32_t ix, std::int32_t iy) {
    ground_cell& c = g.cells[torus_index(memory.side_, ix, iy)];
    if (!c.valid || c.ix != ix || c.iy != iy) {
      c = ground_cell{};
      c.valid = true;
      c.ix = ix;
      c.iy = iy;
    }
    return c;
  }

  void ask_cell(ground_cell& c, float ref) {
    const float px = grid_at(c.ix), py = grid_at(c.iy), top = ref + ground_climb;
    c.asked = event;
    c.known = true;
    c.patch = static_cast<std::int8_t>(top > end_z ? ask(px, py, top, end_z) : -1);
    c.ref = c.patch >= 0 ? static_cast<float>(g.patches[c.patch].height(px, py)) : ref;
    halve_to_boxes(c, static_cast<std::size_t>(memory.side_));
  }

  // The disc's cells, nearest the centre first: each asked once, then, while
  // the ring stands, again a few an event; a walker's new cells inside a
  // patch known need no query.
  void scan(bool standing) {
    const std::int32_t cx = grid_index(x), cy = grid_index(y);
    const std::vector<offset>& spiral = memory.spiral_;
    // Every cell known round the same centre cell as last event: nothing to walk.
    const bool settled = g.settled && g.settled_at[0] == cx && g.settled_at[1] == cy;
    bool complete = true;
    for (std::size_t k = 0; k < spiral.size() && !settled; ++k) {
      const std::int32_t ix = cx + spiral[k].dx, iy = cy + spiral[k].dy;
      ground_cell& c = cell_at(ix, iy);
      if (c.known) continue;
      int behind = -1;
      const float ref = ref_of(k, cx, cy, &behind);
      if (g.scanned) {
        // The ground behind it going on, or a step up known: no query. A
        // step down onto other ground is asked: it may lie under ground unknown.
        const int inside = patch_under(grid_at(ix), grid_at(iy), ref);
        if (inside >= 0 && (inside == behind || g.patches[inside].height(grid_at(ix), grid_at(iy)) >= ref - stepped_within)) {
          c.known = true;
          c.patch = static_cast<std::int8_t>(inside);
          c.ref = static_cast<float>(g.patches[inside].height(grid_at(ix), grid_at(iy)));
          continue;
        }
      }
      if (!afford()) {
        complete = false;
        break;
      }
      ask_cell(c, ref);
      run_jobs();  // what it met followed to its edges before the next cell
    }
    // Known only while nothing was dropped since (drop() unsettles).
    g.settled = complete;
    g.settled_at[0] = cx;
    g.settled_at[1] = cy;
    if (complete) g.scanned = true;
    if (!standing || !g.scanned) return;
    // Asked again: the disc's own cells.
    const std::size_t disc = memory.disc_cells_;
    g.rescan_credit += static_cast<float>(disc) / static_cast<float>(rescan_events);
    while (g.rescan_credit >= 1.0f && budget.left > 0) {
      g.rescan_credit -= 1.0f;
      const std::size_t k = g.rescan_cursor++ % disc;
      ask_cell(cell_at(cx + spiral[k].dx, cy + spiral[k].dy), ref_of(k, cx, cy));
    }
    if (g.rescan_credit > 2.0f) g.rescan_credit = 2.0f;  // what the budget denied is not owed
  }
};

void ground_memory::fit(std::int32_t slots, float reach) {
  const bool more = slots > 0 && static_cast<std::size_t>(slots) > slots_.size();
  if (!more && reach == reach_) return;
  if (more) slots_.resize(static_cast<std::size_t>(slots));
  if (reach != reach_) {
    reach_ = reach;
    // The disc's cells, and a ring of cells beyond its rim, so that a walker
    // knows the ground before its rim reaches it.
    const std::int32_t r = static_cast<std::int32_t>(std::floor(reach / ground_step)), beyond = r + 1;
    // Room for the cells a walker leaves behind, for when it turns back.
    side_ = 2 * beyond + 22;
    spiral_.clear();
    for (std::int32_t dx = -beyond; dx <= beyond; ++dx) {
      for (std::int32_t dy = -beyond; dy <= beyond; ++dy) {
        if (dx * dx + dy * dy <= beyond * beyond) spiral_.push_back({static_cast<std::int16_t>(dx), static_cast<std::int16_t>(dy), -1});
      }
    }
    std::stable_sort(spiral_.begin(), spiral_.end(),
                     [](const offset& a, const offset& b) { return a.dx * a.dx + a.dy * a.dy < b.dx * b.dx + b.dy * b.dy; });
    disc_cells_ = 0;
    while (disc_cells_ < spiral_.size() && spiral_[disc_cells_].dx * spiral_[disc_cells_].dx +
                                                   spiral_[disc_cells_].dy * spiral_[disc_cells_].dy <= r * r) {
      ++disc_cells_;
    }
    for (std::size_t k = 1; k < spiral_.size(); ++k) {
      // One grid step back towards the centre.
      const float d = std::sqrt(static_cast<float>(spiral_[k].dx * spiral_[k].dx + spiral_[k].dy * spiral_[k].dy));
      const float back = (d - 1.0f) / d;
      const int px = static_cast<int>(std::lround(spiral_[k].dx * back)), py = static_cast<int>(std::lround(spiral_[k].dy * back));
      for (std::size_t q = 0; q < k; ++q) {
        if (spiral_[q].dx == px && spiral_[q].dy == py) spiral_[k].parent = static_cast<std::int16_t>(q);
      }
      if (spiral_[k].parent < 0) spiral_[k].parent = 0;
    }
  }
  for (slot_ground& g : slots_) {
    g.cells.assign(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_), ground_cell{});
    g.valid = false;
  }
}

void ground_memory::clear() {
  for (slot_ground& g : slots_) g.valid = false;
}

std::int32_t ground_memory::waited(std::int32_t slot, std::int32_t event) const {
  const slot_ground& g = slots_[static_cast<std::size_t>(slot)];
  return g.valid && g.waiting_since >= 0 ? event - g.waiting_since : 0;
}

ground_under ground_memory::update(std::int32_t slot, std::uint8_t status, float x, float y, float z,
                                   std::int32_t event, query_budget& budget) {
  slot_ground& g = slots_[static_cast<std::size_t>(slot)];
  const float mx = x - g.last[0], my = y - g.last[1], mz = z - g.last[2];
  const float moved = std::sqrt(mx * mx + my * my + mz * mz);
  // A new pedestrian in the slot, or one moved far (a teleport): nothing kept holds.
  const bool fresh = !g.valid || g.status != status || !(moved <= reach_);
  if (fresh) reset(g, status);
  // Standing: within a few centimetres of where it was two events ago and
  // since, so that a slow walker (under 0.05 an event at a high frame rate)
  // still walks.
  const float ax = x - g.anchor[0], ay = y - g.anchor[1], az = z - g.anchor[2];
  if (fresh || !(ax * ax + ay * ay + az * az < standing_within * standing_within)) {
    g.anchor[0] = x, g.anchor[1] = y, g.anchor[2] = z;
    g.still = 0;
  } else if (g.still < 255) {
    ++g.still;
  }
  const bool standing = g.still >= 2;

  asking a{*this, g, x, y, z, event, budget};
  a.forget_behind();
  a.centre_ground();
  if (g.has_centre) {
    a.end_z = g.centre - ground_follow * reach_ - 0.5f;
    a.ask_again();
    a.scan(standing);
    a.run_jobs();
  }
  g.last[0] = x;
  g.last[1] = y;
  g.last[2] = z;
  if (!a.starved) {
    g.waiting_since = -1;
  } else if (g.waiting_since < 0) {
    g.waiting_since = event;
  }

  ground_under out;
  out.found = g.has_centre;
  out.on_ground = g.on_ground;
  out.centre = g.centre;
  out.slot = &g;
  return out;
}

}  // namespace overlay
