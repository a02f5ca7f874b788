//----------------------------------------------------------------------
// File:			kd_compact_scan.cpp
// Description:		Searching a compact kd-tree bucket by bucket
//----------------------------------------------------------------------
//	In: a compact tree, a query, k (eps 0). Out: exactly the k nearest
//	and their distances that the depth-first search of
//	kd_compact_search.cpp finds, or false when this search cannot
//	vouch for them (the caller then runs that search).
//
//	The depth-first search's answer is a function of the query: the
//	first k points by (distance, the order in which its descent meets
//	them), a point's distance being the sum over the dimensions, in
//	their order, of the squared coordinate differences. (A point in the
//	k first that way is never cut: when the search reaches it, fewer than
//	k points met before are as close, so the k-th distance held is above
//	its own; see checkReached() for the rounding of the box distances.)
//	That result can be found with fewer random reads: this search
//	descends the same way, near child first, but stops at subtrees of at
//	most SCAN_BUCKET_POINTS points, whose coordinates lie together in
//	leaf order, and scans each whole with full distances, two points at
//	a time. It offers a bucket's points nearer than the k-th distance so
//	far, each with its place in the order of the descent, to the set of
//	the k first, as ANN's depth-first search offers them one by one.
//
//	The depth-first search waits on memory at each of its scattered
//	points; a bucket's points are read from one place (the figures and
//	the choice of 32 points: bench/PERFORMANCE.md). The check of the
//	answer's last points seldom sends a query back to the depth-first
//	search.
//
//	A thread that has a runner (kd_compact_split.h) splits its searches
//	into parts that the runner's threads search at once, with the same
//	answer (splitSearch() below).
//
//	The descent reads the splits above the buckets from a copy of their
//	own, in their preorder (annCompactPrepareScan()): the tree's nodes
//	lie among the buckets' nodes, a cache line each, and the descent
//	waited on them. The copy holds about one node of 16 bytes for every
//	11 points.
//----------------------------------------------------------------------
#include "kd_compact.h"
#include "kd_compact_split.h"
#include "kd_search.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Subtrees of at most this many points are scanned whole.
const int SCAN_BUCKET_POINTS = 32;

// A search that meets a split this deep gives up (the caller searches depth-first): the
// rounding bound below holds for box distances updated fewer times than this plus a bucket's
// depth.
const int SCAN_DEPTH_LIMIT = 1 << 16;

// The box distance ANN updates along a path of fewer than 2^17 splits is within
// (8 * 2^17 + 13) * 2^-53 < 2^-32 (relative) of the exact distance from the query to the
// cell, which is at most the exact distance to any point of the cell, which in turn is within
// 13 * 2^-53 of the sum the leaves compute. So every point of a cell whose box distance b
// satisfies b * BOX_SLACK - TINY >= bound has a computed distance of at least bound; TINY
// covers the absolute error of subnormal squares (at most 2^16 * 2^-1074, far below DBL_MIN).
const ANNdist BOX_SLACK = 1.0 - 1.0 / 1073741824.0;	// 1 - 2^-30
const ANNdist TINY = DBL_MIN;

// And a point whose distance d satisfies d * POINT_SLACK < D has every box distance of its
// cells below D.
const ANNdist POINT_SLACK = 1.0 + 1.0 / 1073741824.0;	// 1 + 2^-30

std::atomic<bool> plainSearch(false);	// the test switch annCompactPlainSearch()

struct Candidate {
	ANNdist		dist;
	int			rank;					// the order in which the descent meets it
	int			pos;					// its position in leaf order
};

inline bool before(const Candidate &a, const Candidate &b)	// the answer's order
	{ return a.dist < b.dist || (a.dist == b.dist && a.rank < b.rank); }

struct Before {							// before() for the standard algorithms, inlined
	bool operator()(const Candidate &a, const Candidate &b) const { return before(a, b); }
};

// The bits of a distance, which order distances as their values do: a distance is a sum of
// squares from +0, so never negative nor -0, and here always finite (below a bound).
inline uint64_t distanceBits(ANNdist d)
{
	uint64_t bits;
	std::memcpy(&bits, &d, sizeof bits);
	return bits;
}

// The distances of a set of candidates in 2^GROUP_BITS groups by their bits below the highest
// bit in which the least and the greatest differ: the groups are ordered as the distances, and
// equal distances share one. (2^11 counts of 4 bytes stay in the nearest cache.)
const int GROUP_BITS = 11;
const int GROUPS = 1 << GROUP_BITS;

struct DistanceGroups {
	uint64_t			base;			// the least distance's bits, shifted
	int					shift;

	explicit DistanceGroups(const std::vector<Candidate> &set)	// (not empty)
		: base(0), shift(0)
		{
			assert(!set.empty());
			uint64_t least = distanceBits(set[0].dist), greatest = least;
			for (size_t i = 1; i < set.size(); i++) {
				const uint64_t bits = distanceBits(set[i].dist);
				least = bits < least ? bits : least;
				greatest = bits > greatest ? bits : greatest;
			}
			while (((least ^ greatest) >> shift) >= (uint64_t) GROUPS) shift++;
			base = least >> shift;
		}
	int of(ANNdist d) const
		{
			const int g = (int) ((distanceBits(d) >> shift) - base);
			assert(0 <= g && g < GROUPS);	// (d within the set's least and greatest)
			return g;
		}
};

// Moves the k first of `held` (more than k) by (distance, rank) to its front, in no order, and
// returns the k-th distance; `group` is scratch. The groups before the one holding the k-th
// point are kept whole, and only that group is ordered, as std::nth_element orders: quicker than
// std::nth_element over all held points.
ANNdist selectFirst(std::vector<Candidate> &held, int k, std::vector<Candidate> &group)
{
	assert(k > 0 && held.size() > (size_t) k);
	const DistanceGroups groups(held);
	int counts[GROUPS] = {};
	for (size_t i = 0; i < held.size(); i++) counts[groups.of(held[i].dist)]++;
	int kth_group = 0, before_group = 0;
	while (before_group + counts[kth_group] < k) before_group += counts[kth_group++];
	group.clear();
	size_t kept = 0;
	for (size_t i = 0; i < held.size(); i++) {
		const int g = groups.of(held[i].dist);
		if (g == kth_group) group.push_back(held[i]);
		held[kept] = held[i];			// (kept <= i)
		kept += g < kth_group;
	}
	const int more = k - before_group;	// 1 ... the group's size
	std::nth_element(group.begin(), group.begin() + (more - 1), group.end(), Before());
	std::copy(group.begin(), group.begin() + more, held.begin() + kept);
	return group[more - 1].dist;
}

// Sorts `held` (not empty) by (distance, rank): counted into the groups, in their order, then
// each group sorted; `sorted` is scratch: quicker than std::sort of the whole.
void sortFirst(std::vector<Candidate> &held, std::vector<Candidate> &sorted)
{
	const DistanceGroups groups(held);
	int starts[GROUPS + 1] = {};
	for (size_t i = 0; i < held.size(); i++) starts[groups.of(held[i].dist) + 1]++;
	for (int g = 0; g < GROUPS; g++) starts[g + 1] += starts[g];
	sorted.resize(held.size());
	for (size_t i = 0; i < held.size(); i++) sorted[starts[groups.of(held[i].dist)]++] = held[i];
	held.swap(sorted);
	for (int g = 0, from = 0; g < GROUPS; from = starts[g++])	// (starts[g]: group g's end)
		if (starts[g] - from > 1)
			std::sort(held.begin() + from, held.begin() + starts[g], Before());
}

// The k first points met so far by (distance, rank), as ANNmin_k keeps them, among at most
// k + k / KEPT_EXTRA_PART + 1 held in no order: when that many are held, all but the k first
// are dropped and the bound becomes the k-th distance. The bound is then at or above the k-th
// distance of the points held until the next trim, so more points come in and fewer cells are
// cut than ANNmin_k would let, but it is the k-th distance of k points met before any that
// come later, so a point at or beyond it is never among the k first: the answer is the same.
// A trim at 1.25 k was quicker than a heap and than later trims (bench/PERFORMANCE.md).
const int KEPT_EXTRA_PART = 4;

struct Kept {
	int						k;
	int						trimAt;		// held points that make a trim
	std::vector<Candidate>	held;
	std::vector<Candidate>	scratch;	// of selectFirst() and sortFirst()
	ANNdist					bound;		// the k-th distance at the last trim (infinite before)

	explicit Kept(int want)
		: k(want), trimAt(0), held(), scratch(), bound(ANN_DIST_INF)
		{
			const long long at = (long long) want + want / KEPT_EXTRA_PART + 1;
			trimAt = at < INT_MAX ? (int) at : INT_MAX;	// (no more points than INT_MAX)
			held.reserve(trimAt);
		}

	void add(const Candidate &c)		// c met after every point held
		{
			if (!(c.dist < bound)) return;
			held.push_back(c);
			if ((int) held.size() == trimAt) trim();
		}

	void trim()							// the k first kept (all when fewer)
		{
			if ((int) held.size() <= k) return;
			bound = selectFirst(held, k, scratch);
			held.resize(k);
		}

	std::vector<Candidate> &sorted()	// the k first in the answer's order
		{
			trim();
			if (!held.empty()) sortFirst(held, scratch);
			return held;
		}
};

struct ScanSearch {						// one search of a compact tree
	const ANNkdCompact	&t;
	ANNcompactPoints	pts;			// coordinates in leaf order
	ANNpoint			q;
	int					dim;
	ANNcoord			*lo;			// the current cell
	ANNcoord			*hi;
	Kept				kept;
	int					met;			// points numbered so far (at most n)
	int					scanned;		// points whose distance was computed
	bool				failed;			// a distance that is not a finite number
	std::vector<ANNdist> dist;			// a bucket's distances
	std::vector<Candidate> near;		// its points nearer than the bound
};

// The sum of squared differences of the points at positions a and a + 1, as
// ANNkd_leaf::ann_search() sums them: in the order of the dimensions, from 0.
inline void twoDistances(const ScanSearch &s, int a, ANNdist *out)
{
	const ANNcoord *p0 = s.pts.at(a);
	const ANNcoord *p1 = s.pts.at(a + 1);
	__m128d sum = _mm_setzero_pd();
	for (int d = 0; d < s.dim; d++) {
		const __m128d p = _mm_loadh_pd(_mm_load_sd(p0 + d), p1 + d);
		const __m128d t = _mm_sub_pd(_mm_set1_pd(s.q[d]), p);
		sum = _mm_add_pd(sum, _mm_mul_pd(t, t));
	}
	_mm_storeu_pd(out, sum);
}

inline ANNdist oneDistance(const ScanSearch &s, int a)
{
	const ANNcoord *p = s.pts.at(a);
	ANNdist sum = 0;
	for (int d = 0; d < s.dim; d++) {
		const ANNcoord t = s.q[d] - p[d];
		sum = sum + t * t;
	}
	return sum;
}

// The place of position `pos` in the order in which the descent meets the subtree (node, a,
// m): the points of every near child before those of its far child.
int orderInSubtree(const ScanSearch &s, int node, int a, int m, int pos)
{
	assert(a <= pos && pos < a + m);
	int before_pos = 0;
	while (m > 1) {
		const ANNcompactNode &x = s.t.node(node);
		const bool low_first = s.q[x.cut_dim] - x.cut_val < 0;
		if (pos < a + x.n_lo) {
			if (!low_first) before_pos += m - x.n_lo;
			node += 1;
			m = x.n_lo;
		}
		else {
			if (low_first) before_pos += x.n_lo;
			node += x.n_lo;
			a += x.n_lo;
			m -= x.n_lo;
		}
	}
	return before_pos;
}

// Asks for the first `bytes` of the coordinates of the subtree over positions [a, a+m) all at
// once: a subtree's reads then overlap instead of following one another. Points stored in
// separate blocks are left to the scan. Its nodes are not asked for: they are read only to
// rank equally far points.
void prefetchBucket(const ScanSearch &s, int a, int m, int bytes)
{
	const char *from = (const char *) s.pts.at(a);
	const uintptr_t point_bytes = s.dim * sizeof(ANNcoord);
	if ((uintptr_t) s.pts.at(a + m - 1) - (uintptr_t) from == (m - 1) * point_bytes)
		for (int at = 0; at < bytes; at += 64) _mm_prefetch(from + at, _MM_HINT_T0);
}

// True when two of a bucket's candidates are equally far (seldom, but for images with many
// equal windows: a plain double loop, a bucket having few candidates once k are kept).
bool equalDistances(const std::vector<Candidate> &near)
{
	for (size_t i = 1; i < near.size(); i++)
		for (size_t j = 0; j < i; j++)
			if (near[i].dist == near[j].dist) return true;
	return false;
}

// Scans the subtree (node, a, m) whole, then offers its points nearer than the k-th distance
// so far, each with its rank in the order of the descent. A bucket's points all come after
// those of the buckets before it, so its place in that order (s.met) decides between its
// points and any other bucket's; within it the order of the descent decides only between
// equally far points, and is worked out only when there are such (ranking every near point
// was a large share of a fill).
void scanBucket(ScanSearch &s, int node, int a, int m)
{
	ANNdist *dist = &s.dist[0];
	prefetchBucket(s, a, m, m * s.dim * (int) sizeof(ANNcoord));
	int i = 0;
	for (; i + 1 < m; i += 2) twoDistances(s, a + i, dist + i);
	if (i < m) dist[i] = oneDistance(s, a + i);
	s.scanned += m;
	s.near.clear();
	for (i = 0; i < m; i++) {
		if (!(dist[i] < ANN_DIST_INF)) s.failed = true;	// NaN or infinite
		if (dist[i] < s.kept.bound) {
			const Candidate c = { dist[i], s.met + i, a + i };
			s.near.push_back(c);
		}
	}
	if (equalDistances(s.near)) {		// (offered in rank order: a trim may come between)
		for (size_t j = 0; j < s.near.size(); j++)
			s.near[j].rank = s.met + orderInSubtree(s, node, a, m, s.near[j].pos);
		std::sort(s.near.begin(), s.near.end(),
			[](const Candidate &x, const Candidate &y) { return x.rank < y.rank; });
	}
	for (size_t j = 0; j < s.near.size(); j++) s.kept.add(s.near[j]);
	s.met += m;
}

// The least distance a point of the current cell can have as the leaves sum it: the squares of
// the query's gaps to the cell (0 inside it) summed in the order of the dimensions. A point's
// difference from the query along a dimension is at least the gap, and subtraction, squaring
// and addition round monotonically, so no point's sum is smaller.
ANNdist cellDistance(const ScanSearch &s)
{
	ANNdist sum = 0;
	for (int d = 0; d < s.dim; d++) {
		ANNcoord t = 0;
		if (s.q[d] < s.lo[d]) t = s.lo[d] - s.q[d];
		else if (s.q[d] > s.hi[d]) t = s.q[d] - s.hi[d];
		sum = sum + t * t;
	}
	return sum;
}

// True when no point of the current cell, whose box distance ANN's way is box_dist, can be
// among the k first: every one is at least as far as the k-th so far, and met after it. The
// box distance decides unless it is within its rounding of the bound; there (in images with
// many equal windows, often exactly at it) the cell's least distance does: with the box
// distance alone, flat images took many times as long.
inline bool cut(const ScanSearch &s, ANNdist box_dist)
{
	const ANNdist bound = s.kept.bound;
	if (!(bound < ANN_DIST_INF)) return false;
	if (box_dist * BOX_SLACK - TINY >= bound) return true;
	if (box_dist * POINT_SLACK * POINT_SLACK < bound) return false;	// (so is its least)
	return cellDistance(s) >= bound;
}

// The start of a split's far child, a bucket, asked for before the near child is searched:
// the far child is searched next unless cut. Its node
// is not asked for: it is read only to rank equally far points.
inline void prefetchFar(const ScanSearch &s, int a, int m, int n_lo, bool low_near)
{
	const int far_a = low_near ? a + n_lo : a;
	const int far_m = low_near ? m - n_lo : n_lo;
	const int bytes = far_m * s.dim * (int) sizeof(ANNcoord);
	for (int at = 0; at < bytes && at < 4 * 64; at += 64)
		_mm_prefetch((const char *) s.pts.at(far_a) + at, _MM_HINT_T0);
}

// The box distance of a split's far child, from the split's own (box_dist), as
// ANNkd_split::ann_search() updates it: the query's gap to the cell along the cut dimension,
// lv..hv, becomes its gap to the cutting plane (cut_diff).
inline ANNdist farBoxDistance(const ScanSearch &s, int cd, ANNcoord lv, ANNcoord hv,
	ANNcoord cut_diff, ANNdist box_dist)
{
	ANNcoord box_diff = cut_diff < 0 ? lv - s.q[cd] : s.q[cd] - hv;
	if (box_diff < 0)					// within bounds - ignore
		box_diff = 0;
	return (ANNdist) ANN_SUM(box_dist, ANN_DIFF(ANN_POW(box_diff), ANN_POW(cut_diff)));
}

// The upper nodes of the subtree (node, m): those over more than SCAN_BUCKET_POINTS points.
size_t countUpper(const ANNkdCompact &t, int node, int m)
{
	size_t count = 0;
	for (; m > SCAN_BUCKET_POINTS; count++) {	// (the high side in the loop, the low in a call)
		const int n_lo = t.node(node).n_lo;
		count += countUpper(t, node + 1, n_lo);
		node += n_lo;
		m -= n_lo;
	}
	return count;
}

// Cut dimensions and distances to a high child that an ANNcompactUpper holds.
const unsigned UPPER_DIMS = 1u << 8;
const size_t UPPER_HIGH_LIMIT = (size_t) 1 << 24;

// Appends the upper nodes of the subtree (node, m) to `upper` (reserved for them all) in their
// preorder; false where a high child lies too far for ANNcompactUpper (cut dimensions fit: the
// caller sees to it).
bool collectUpper(const ANNkdCompact &t, std::vector<ANNcompactUpper> &upper, int node, int m)
{
	while (m > SCAN_BUCKET_POINTS) {	// (the high side in the loop, the low in a call)
		const ANNcompactNode &x = t.node(node);
		const size_t at = upper.size();
		const ANNcompactUpper u = { x.cut_val, x.n_lo, (unsigned) x.cut_dim };
		upper.push_back(u);
		if (!collectUpper(t, upper, node + 1, x.n_lo)) return false;
		const size_t high = upper.size() - at;	// (where the high child's goes, when it is one)
		if (high >= UPPER_HIGH_LIMIT) return false;
		upper[at].dim_high |= (unsigned) high << 8;
		node += x.n_lo;
		m -= x.n_lo;
	}
	return true;
}

// An upper node as the descent uses it.
struct ScanSplit {
	ANNcoord			cut_val;
	int					n_lo;
	int					cut_dim;
	int					high;			// the high child's upper node (when it is one)
};

inline ScanSplit upperSplit(const ScanSearch &s, int up)
{
	const ANNcompactUpper &u = s.t.upper[up];
	const ScanSplit x = { u.cut_val, u.n_lo, (int) (u.dim_high & (UPPER_DIMS - 1)),
		up + (int) (u.dim_high >> 8) };
	return x;
}

// Searches the child of split x (node, upper node up, a, m) on the low side or the high side,
// its cell narrowed to that side of the cut meanwhile; the far child only unless cut.
void scanChild(ScanSearch &s, const ScanSplit &x, int node, int up, int a, int m, bool low,
	ANNdist box_dist, int depth, bool far);

// As compactSearch(), with buckets for leaves and the kept points' bound for pruning; `up` is
// the node's place among the upper nodes (read instead of the tree's own when m is more than a
// bucket's).
void scanSearch(ScanSearch &s, int node, int up, int a, int m, ANNdist box_dist, int depth)
{
	if (m <= SCAN_BUCKET_POINTS) {
		scanBucket(s, node, a, m);
		return;
	}
	if (depth >= SCAN_DEPTH_LIMIT) {
		s.failed = true;
		return;
	}
	const ScanSplit x = upperSplit(s, up);
	const ANNcoord cut_diff = s.q[x.cut_dim] - x.cut_val;
	const bool low_near = cut_diff < 0;	// left of cutting plane
	if ((low_near ? m - x.n_lo : x.n_lo) <= SCAN_BUCKET_POINTS)
		prefetchFar(s, a, m, x.n_lo, low_near);
	scanChild(s, x, node, up, a, m, low_near, box_dist, depth, false);
	if (s.failed) return;
	box_dist = farBoxDistance(s, x.cut_dim, s.lo[x.cut_dim], s.hi[x.cut_dim], cut_diff,
		box_dist);
	scanChild(s, x, node, up, a, m, !low_near, box_dist, depth, true);
}

void scanChild(ScanSearch &s, const ScanSplit &x, int node, int up, int a, int m, bool low,
	ANNdist box_dist, int depth, bool far)
{
	ANNcoord &bound = low ? s.hi[x.cut_dim] : s.lo[x.cut_dim];
	const ANNcoord saved = bound;
	bound = x.cut_val;
	if (far && cut(s, box_dist))
		;								// nothing there comes in
	else if (low)
		scanSearch(s, node + 1, up + 1, a, x.n_lo, box_dist, depth + 1);
	else
		scanSearch(s, node + x.n_lo, x.high, a + x.n_lo, m - x.n_lo, box_dist, depth + 1);
	bound = saved;
}

//----------------------------------------------------------------------
//	One search split over threads (kd_compact_split.h). The answer is
//	the first k of all points by (distance, order of the descent), so
//	the descent's order can be cut into parts, consecutive subtrees,
//	each searched on its own for its own k first: the answer is the
//	first k of theirs, a part's points coming after those of the parts
//	before it. A part searched alone would keep far more points than
//	the whole search (it has no bound from the others), so every part
//	starts just above the k-th distance of the points the finished
//	parts keep: those are k points of the tree, so a point beyond that
//	distance is never among the k first, wherever it lies. The subtree
//	about the query, where the nearest points lie, is searched first,
//	alone, to give the others that bound. The parts, the first k and so
//	the answer are the same whichever thread searches a part and
//	whenever; only the points scanned depend on it.
//----------------------------------------------------------------------

// A part: a subtree, its cell and its box distance as the descent reaches it.
struct Part {
	int					node;
	int					up;
	int					a;
	int					m;
	int					depth;
	ANNdist				box_dist;
	std::vector<ANNcoord> lo;
	std::vector<ANNcoord> hi;
};

// Parts hold at most this many times k points (bench/PERFORMANCE.md: fewer, larger parts
// leave a thread with most of the work; more, smaller ones start before the bound is near).
const long long SPLIT_PART_K = 8;

thread_local ANNcompactRunner splitRunner = 0;	// the thread's runner (annCompactSetSplit())
thread_local int splitWorkers = 0;

Part partHere(const ScanSearch &s, int node, int up, int a, int m, int depth, ANNdist box_dist)
{
	const Part p = { node, up, a, m, depth, box_dist, std::vector<ANNcoord>(s.lo, s.lo + s.dim),
		std::vector<ANNcoord>(s.hi, s.hi + s.dim) };
	return p;
}

// Appends the subtree (node, up, a, m) of the current cell to `parts`, cut into subtrees of at
// most `most` points in the order of the descent.
void cutParts(ScanSearch &s, int node, int up, int a, int m, ANNdist box_dist, int depth,
	int most, std::vector<Part> &parts)
{
	if (m <= most || m <= SCAN_BUCKET_POINTS || depth >= SCAN_DEPTH_LIMIT) {
		parts.push_back(partHere(s, node, up, a, m, depth, box_dist));
		return;
	}
	const ScanSplit x = upperSplit(s, up);
	const ANNcoord cut_diff = s.q[x.cut_dim] - x.cut_val;
	const bool low_near = cut_diff < 0;
	const ANNdist far_dist = farBoxDistance(s, x.cut_dim, s.lo[x.cut_dim], s.hi[x.cut_dim],
		cut_diff, box_dist);
	for (int side = 0; side < 2; side++) {	// the near child, then the far one
		const bool low = side == 0 ? low_near : !low_near;
		ANNcoord &bound = low ? s.hi[x.cut_dim] : s.lo[x.cut_dim];
		const ANNcoord saved = bound;
		bound = x.cut_val;
		const ANNdist child_dist = side == 0 ? box_dist : far_dist;
		if (low)
			cutParts(s, node + 1, up + 1, a, x.n_lo, child_dist, depth + 1, most, parts);
		else
			cutParts(s, node + x.n_lo, x.high, a + x.n_lo, m - x.n_lo, child_dist, depth + 1,
				most, parts);
		bound = saved;
	}
}

// The parts of the whole search in the order of its descent: the subtree about the query of at
// most `most` points, then the far children along the path down to it, from the deepest up,
// each cut by cutParts(). The current cell is the tree's box on entry and changed on return.
void splitParts(ScanSearch &s, int n, ANNdist box_dist, int most, std::vector<Part> &parts)
{
	std::vector<Part> far;				// from the root down
	int node = 0, up = 0, a = 0, m = n, depth = 0;
	while (m > most && m > SCAN_BUCKET_POINTS && depth < SCAN_DEPTH_LIMIT) {
		const ScanSplit x = upperSplit(s, up);
		const ANNcoord cut_diff = s.q[x.cut_dim] - x.cut_val;
		const bool low_near = cut_diff < 0;
		const ANNdist far_dist = farBoxDistance(s, x.cut_dim, s.lo[x.cut_dim], s.hi[x.cut_dim],
			cut_diff, box_dist);
		ANNcoord &far_bound = low_near ? s.lo[x.cut_dim] : s.hi[x.cut_dim];
		const ANNcoord saved = far_bound;
		far_bound = x.cut_val;
		far.push_back(low_near
			? partHere(s, node + x.n_lo, x.high, a + x.n_lo, m - x.n_lo, depth + 1, far_dist)
			: partHere(s, node + 1, up + 1, a, x.n_lo, depth + 1, far_dist));
		far_bound = saved;
		if (low_near) {					// down to the near child, its cell kept
			s.hi[x.cut_dim] = x.cut_val;
			node += 1;
			up += 1;
			m = x.n_lo;
		}
		else {
			s.lo[x.cut_dim] = x.cut_val;
			node += x.n_lo;
			up = x.high;
			a += x.n_lo;
			m -= x.n_lo;
		}
		depth++;
	}
	parts.push_back(partHere(s, node, up, a, m, depth, box_dist));
	for (size_t i = far.size(); i-- > 0; ) {
		const Part &p = far[i];
		std::copy(p.lo.begin(), p.lo.end(), s.lo);
		std::copy(p.hi.begin(), p.hi.end(), s.hi);
		cutParts(s, p.node, p.up, p.a, p.m, p.box_dist, p.depth, most, parts);
	}
}

// A split search's shared state. `found[j]` and `scanned[j]` are written by the thread that
// searches part j alone; the bound and the distances it comes from under `lock`.
struct SplitRun {
	const ANNkdCompact	&t;
	ANNpoint			q;
	int					dim;
	int					k;
	const std::vector<Part> &parts;
	std::vector<std::vector<Candidate> > found;	// each part's k first (at most)
	std::vector<int>	scanned;
	std::atomic<int>	next;			// the next part to search
	std::atomic<bool>	failed;			// a part could not vouch for its points
	std::atomic<bool>	outOfMemory;
	std::mutex			lock;
	std::vector<ANNdist> known;			// the finished parts' distances: the k least once trimmed
	ANNdist				bound;			// just above the k-th of them (infinite before)

	SplitRun(const ANNkdCompact &tree, ANNpoint query, int d, int want,
		const std::vector<Part> &all)
		: t(tree), q(query), dim(d), k(want), parts(all), found(all.size()),
		  scanned(all.size(), 0), next(0), failed(false), outOfMemory(false), lock(), known(),
		  bound(ANN_DIST_INF) {}
};

// Adds a finished part's kept points to the bound's distances.
void publish(SplitRun &r, const std::vector<Candidate> &kept)
{
	std::lock_guard<std::mutex> hold(r.lock);
	for (size_t i = 0; i < kept.size(); i++) r.known.push_back(kept[i].dist);
	if ((int) r.known.size() < r.k) return;
	std::nth_element(r.known.begin(), r.known.begin() + (r.k - 1), r.known.end());
	r.known.resize(r.k);
	const ANNdist above = std::nextafter(r.known[r.k - 1], ANN_DIST_INF);
	if (above < r.bound) r.bound = above;
}

ANNdist currentBound(SplitRun &r)
{
	std::lock_guard<std::mutex> hold(r.lock);
	return r.bound;
}

// Searches part j from the bound the finished parts give now. May throw std::bad_alloc.
void searchPart(SplitRun &r, size_t j)
{
	const Part &p = r.parts[j];
	const ANNdist bound = currentBound(r);
	if (bound < ANN_DIST_INF && p.box_dist * BOX_SLACK - TINY >= bound)
		return;							// nothing there comes in (as cut())
	std::vector<ANNcoord> cell(p.lo);
	cell.insert(cell.end(), p.hi.begin(), p.hi.end());
	ScanSearch s = { r.t, r.t.points, r.q, r.dim, &cell[0], &cell[r.dim], Kept(r.k), 0, 0, false,
		std::vector<ANNdist>(SCAN_BUCKET_POINTS), std::vector<Candidate>() };
	s.near.reserve(SCAN_BUCKET_POINTS);
	s.kept.bound = bound;
	scanSearch(s, p.node, p.up, p.a, p.m, p.box_dist, p.depth);
	s.kept.trim();
	r.scanned[j] = s.scanned;
	if (s.failed) r.failed = true;
	r.found[j].swap(s.kept.held);
	publish(r, r.found[j]);
}

// A worker of the runner: takes the next part until none is left. Never throws.
void splitJob(void *context, int)
{
	SplitRun &r = *static_cast<SplitRun *>(context);
	try {
		for (;;) {
			const int j = r.next.fetch_add(1);
			if (j >= (int) r.parts.size() || r.failed) return;
			searchPart(r, (size_t) j);
		}
	}
	catch (const std::bad_alloc &) {
		r.outOfMemory = true;
		r.failed = true;
	}
}

// The search of s split into parts: the first searched on the calling thread, then the others
// by the thread's runner; `answer` the k first of them all in the answer's order. False where
// a part could not vouch for its points (the caller then searches depth-first). Throws
// std::bad_alloc.
bool splitSearch(ScanSearch &s, int n, int k, ANNdist box_dist, std::vector<Candidate> &answer)
{
	const long long most = std::min(std::max(SPLIT_PART_K * k, (long long) SCAN_BUCKET_POINTS),
		(long long) INT_MAX);
	std::vector<Part> parts;
	splitParts(s, n, box_dist, (int) most, parts);
	SplitRun r(s.t, s.q, s.dim, k, parts);
	searchPart(r, 0);					// the subtree about the query, alone
	r.next = 1;
	splitRunner(splitWorkers, splitJob, &r);
	if (r.outOfMemory) throw std::bad_alloc();
	for (size_t j = 0; j < parts.size(); j++) s.scanned += r.scanned[j];	// (parts are disjoint)
	if (r.failed) return false;

	answer.clear();
	int before = 0;						// the points of the parts before part j
	for (size_t j = 0; j < parts.size(); j++) {
		for (size_t i = 0; i < r.found[j].size(); i++) {
			Candidate c = r.found[j][i];
			c.rank += before;
			answer.push_back(c);
		}
		before += parts[j].m;
	}
	std::vector<Candidate> scratch;
	if ((int) answer.size() > k) {
		selectFirst(answer, k, scratch);
		answer.resize(k);
	}
	if (!answer.empty()) sortFirst(answer, scratch);
	return (int) answer.size() == k;
}

// True when the depth-first search surely reaches the point at position `pos` (distance d)
// of the answer whose k-th distance is kth: at every split where the point lies on the far
// side, the box distance the search computes there is at most d or below kth. (When the
// search comes to that split, the k-th distance it holds is above d, or fewer than k points
// met before would not be as close; and it is at least kth. Either inequality lets it in.)
bool checkReached(ScanSearch &s, const ANNcoord *box_lo, const ANNcoord *box_hi, int n,
	int pos, ANNdist d, ANNdist kth)
{
	std::copy(box_lo, box_lo + s.dim, s.lo);
	std::copy(box_hi, box_hi + s.dim, s.hi);
	ANNdist box_dist = annBoxDistance(s.q, s.lo, s.hi, s.dim);
	int node = 0, a = 0, m = n;
	while (m > 1) {
		const ANNcompactNode &x = s.t.node(node);
		const int cd = x.cut_dim;
		const ANNcoord cut_diff = s.q[cd] - x.cut_val;
		const bool low = pos < a + x.n_lo;
		if (low != (cut_diff < 0)) {	// the far side: the box distance as there
			box_dist = farBoxDistance(s, cd, s.lo[cd], s.hi[cd], cut_diff, box_dist);
			if (!(box_dist <= d || box_dist < kth)) return false;
		}
		if (low) {
			s.hi[cd] = x.cut_val;
			node += 1;
			m = x.n_lo;
		}
		else {
			s.lo[cd] = x.cut_val;
			node += x.n_lo;
			a += x.n_lo;
			m -= x.n_lo;
		}
	}
	return true;
}

// True when the point at position pos has the query's coordinates. Such a point is on the
// far side of a split only where the query lies on the cutting plane, where the box distance
// the search computes grows by 0 - box_diff^2 <= 0: from 0 at the root (the query is in the
// tree's bounding box) it stays at most 0 all the way down.
bool isQuery(const ScanSearch &s, int pos)
{
	for (int d = 0; d < s.dim; d++)
		if (!(s.pts.at(pos)[d] == s.q[d])) return false;
	return true;
}

// True when the depth-first search surely reaches every point of the answer `found` (sorted):
// those whose distance is within the rounding bound of the k-th are checked one by one, but
// for copies of the query (in a flat image, often the whole answer).
bool surelyReached(ScanSearch &s, const ANNcoord *box_lo, const ANNcoord *box_hi, int n,
	const std::vector<Candidate> &found)
{
	const ANNdist kth = found.back().dist;
	for (size_t i = found.size(); i-- > 0 && !(found[i].dist * POINT_SLACK < kth); )
		if (!(found[i].dist == 0 && isQuery(s, found[i].pos)) &&
			!checkReached(s, box_lo, box_hi, n, found[i].pos, found[i].dist, kth))
			return false;
	return true;
}

} // namespace

bool annCompactScanSearch(				// see kd_compact.h
	ANNkdSearchState	&st,
	const ANNkdCompact	&t,
	ANNidxArray			pidx,
	ANNpoint			bnd_box_lo,
	ANNpoint			bnd_box_hi,
	int					n,
	int					k,
	ANNidxArray			nn_idx,
	ANNdistArray		dd)
{
	if (plainSearch.load(std::memory_order_relaxed) || !t.scan_ready || st.maxErr != 1.0 ||
		k < 1 || k > n || ANNmaxPtsVisited != 0)
		return false;
	for (int d = 0; d < st.dim; d++)	// (a query of infinities or NaN: the plain search)
		if (!(st.q[d] - st.q[d] == 0)) return false;

	std::vector<ANNcoord> box(bnd_box_lo, bnd_box_lo + st.dim);
	box.insert(box.end(), bnd_box_hi, bnd_box_hi + st.dim);
	ScanSearch s = { t, t.points, st.q, st.dim, &box[0], &box[st.dim], Kept(k), 0, 0, false,
		std::vector<ANNdist>(SCAN_BUCKET_POINTS), std::vector<Candidate>() };
	s.near.reserve(SCAN_BUCKET_POINTS);
	const ANNdist box_dist = annBoxDistance(st.q, bnd_box_lo, bnd_box_hi, st.dim);
	std::vector<Candidate> split;
	const bool in_parts = splitRunner != 0 && (long long) n > 2 * SPLIT_PART_K * k;
	if (in_parts) {
		const bool vouched = splitSearch(s, n, k, box_dist, split);
		st.ptsVisited += s.scanned;
		if (!vouched) return false;
	}
	else {
		scanSearch(s, 0, 0, 0, n, box_dist, 0);
		st.ptsVisited += s.scanned;
		if (s.failed) return false;
	}

	const std::vector<Candidate> &found = in_parts ? split : s.kept.sorted();	// k: k <= n
	if (!surelyReached(s, bnd_box_lo, bnd_box_hi, n, found)) return false;
	for (int i = 0; i < k; i++) {
		dd[i] = found[i].dist;
		nn_idx[i] = pidx[found[i].pos];
	}
	return true;
}

void annCompactPrepareScan(				// see kd_compact.h
	ANNkdCompact		&t,
	int					n,
	int					dim)
{
	t.scan_ready = false;
	std::vector<ANNcompactUpper>().swap(t.upper);
	if ((unsigned) dim > UPPER_DIMS) return;
	// Counted first: this comes at the fill's memory peak, where a growing array's spare room
	// and its copy would count too.
	t.upper.reserve(countUpper(t, 0, n));
	if (collectUpper(t, t.upper, 0, n))
		t.scan_ready = true;
	else
		std::vector<ANNcompactUpper>().swap(t.upper);
}

void annCompactSetSplit(ANNcompactRunner runner, int workers)
{
	splitRunner = workers >= 2 ? runner : 0;
	splitWorkers = workers;
}

void annCompactPlainSearch(bool on)
{
	plainSearch.store(on);
}
