//----------------------------------------------------------------------
// File:			kd_compact_build.cpp
// Description:		Building a compact kd-tree
//----------------------------------------------------------------------
//	See kd_compact.h for the layout. Construction follows rkd_tree()
//	with sl_midpt_split() step for step: the same bounding boxes, the
//	same partitions in the same order, the same swaps of the index
//	array; the ranges (least and greatest coordinates) come from scans
//	that may read a cell in pieces, which finds the same values.
//	Each swap also exchanges the two points' coordinates, so position i
//	of the point array always holds the coordinates of point pidx[i];
//	every comparison therefore sees the values the original sees, and
//	the tree comes out identical.
//----------------------------------------------------------------------
#include "kd_compact.h"
#include "kd_util.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

ANNkdCompact::ANNkdCompact(int n_nodes)
	: scan_ready(false)
{
	const int per_block = 1 << BLOCK_BITS;
	try {
		for (int first = 0; first < n_nodes; first += per_block) {
			int count = n_nodes - first < per_block ? n_nodes - first : per_block;
			blocks.push_back(NULL);
			blocks.back() = new ANNcompactNode[count];
		}
	}
	catch (...) {
		for (size_t b = 0; b < blocks.size(); b++) delete [] blocks[b];
		throw;
	}
}

ANNkdCompact::~ANNkdCompact()
{
	for (size_t b = 0; b < blocks.size(); b++) delete [] blocks[b];
}

//----------------------------------------------------------------------
//	Construction
//----------------------------------------------------------------------

namespace {

const double ERR = 0.001;				// as in kd_split.cpp

// Position i of the cell whose points are pa and indices pidx.
#define CA(i,d)			(pa.at(i)[(d)])

// The least and greatest coordinate along d, as annMinMax() finds them; their difference is
// annSpread()'s result (the same comparisons in the same order).
template <class Points>
void compactMinMax(Points pa, int n, int d, ANNcoord &min, ANNcoord &max)
{
	ANNcoord lo = CA(0,d);				// (locals: min and max might alias the points)
	ANNcoord hi = CA(0,d);
	for (int i = 1; i < n; i++) {
		ANNcoord c = CA(i,d);
		if (c < lo) lo = c;
		else if (c > hi) hi = c;
	}
	min = lo;
	max = hi;
}

// Exchanges positions l and r: their indices and their coordinates.
template <class Points>
inline void compactSwap(Points pa, ANNidxArray pidx, int l, int r, int dim)
{
	ANNidx t = pidx[l]; pidx[l] = pidx[r]; pidx[r] = t;
	ANNcoord *pl = pa.at(l), *pr = pa.at(r);
	for (int d = 0; d < dim; d++) {
		ANNcoord c = pl[d]; pl[d] = pr[d]; pr[d] = c;
	}
}

// How far ahead of a scan (in positions) a cell across blocks has its coordinates fetched.
// Such a cell is larger than the caches, and the scans waited on memory; 64 ahead was the
// quickest distance tried, and only the plane splits' first pass gains (bench/PERFORMANCE.md).
const int FETCH_AHEAD = 64;

// Asks for the line holding coordinate d of position i of a cell of n positions (clamped to
// the cell) when the cell is one across blocks; for a flat cell nothing.
template <class Points>
inline void compactFetch(Points pa, int i, int n, int d)
{
	if (std::is_same<Points, ANNcompactPoints>::value)
		__builtin_prefetch(pa.at(i < 0 ? 0 : i < n ? i : n - 1) + d);
}

// A plane split's first pass tells `sides` of every point it meets, once each: low() of those
// that end below cv (before br1), high() of the others.
struct NoSides {
	void low(const ANNcoord *) {}
	void high(const ANNcoord *) {}
};

template <class Points, class Sides>
void compactPlaneSplit(Points pa, ANNidxArray pidx, int n, int d, int dim,
	ANNcoord cv, int &br1, int &br2, Sides &met)	// as annPlaneSplit()
{
	Sides sides = met;					// (a local: kept in registers across the swaps' stores)
	int l = 0;
	int r = n-1;
	bool level = false;					// a coordinate neither below nor above cv met
	for(;;) {
		while (l < n && CA(l,d) < cv) {
			compactFetch(pa, l + FETCH_AHEAD, n, d);
			sides.low(pa.at(l)); l++;
		}
		while (r >= 0 && CA(r,d) >= cv) {
			compactFetch(pa, r - FETCH_AHEAD, n, d);
			level = level || !(CA(r,d) > cv);
			sides.high(pa.at(r));
			r--;
		}
		if (l > r) break;
		level = level || !(CA(l,d) > cv);
		sides.high(pa.at(l));
		sides.low(pa.at(r));
		compactSwap(pa, pidx, l, r, dim);
		l++; r--;
	}
	br1 = l;
	met = sides;
	// Every position was read above (the scans met), so without such a coordinate every one
	// from br1 on is above cv: the second scan would stop l at br1 and swap nothing.
	if (!level) {
		br2 = br1;
		return;
	}
	r = n-1;
	for(;;) {
		while (l < n && CA(l,d) <= cv) l++;
		while (r >= br1 && CA(r,d) > cv) r--;
		if (l > r) break;
		compactSwap(pa, pidx, l, r, dim);
		l++; r--;
	}
	br2 = l;
}

// Points whose lines stay in the first-level cache while extendBox() reads them a pair of
// dimensions at a time.
const int BOX_CHUNK_POINTS = 64;

// Extends the range lo, hi along every dimension by positions [from, to), two dimensions a
// vector. MINPD and MAXPD return their second operand unless the first is less (greater),
// which is compactScanRange()'s test, and each pair of dimensions meets the points in their
// order: the ranges are the scalar scan's for any values, NaNs and zeros of either sign
// included. The scalar scan's ten tests a point were the bounding box's cost.
template <class Points>
void compactExtendBox(Points pa, int from, int to, int dim, ANNcoord *lo, ANNcoord *hi)
{
	const ANNcoord *chunk[BOX_CHUNK_POINTS];
	for (int c0 = from; c0 < to; c0 += BOX_CHUNK_POINTS) {
		const int m = std::min(to - c0, BOX_CHUNK_POINTS);
		for (int i = 0; i < m; i++) chunk[i] = pa.at(c0 + i);
		int d = 0;
		for (; d + 2 <= dim; d += 2) {
			__m128d l = _mm_loadu_pd(lo + d), h = _mm_loadu_pd(hi + d);
			for (int i = 0; i < m; i++) {
				const __m128d c = _mm_loadu_pd(chunk[i] + d);
				l = _mm_min_pd(c, l);
				h = _mm_max_pd(c, h);
			}
			_mm_storeu_pd(lo + d, l);
			_mm_storeu_pd(hi + d, h);
		}
		for (; d < dim; d++)
			for (int i = 0; i < m; i++) {
				const ANNcoord c = chunk[i][d];
				if (c < lo[d]) lo[d] = c;
				if (c > hi[d]) hi[d] = c;
			}
	}
}

// The least and greatest coordinate of positions [from, to) along each dimension of dims[0..nd),
// into lo[d] and hi[d] (a cell's range along d, as annMinMax() and annEnclRect() find it).
// Position 0 starts the range, as there; a later start begins from an empty range, and a NaN
// is then skipped as those functions skip one after position 0. Of equal values the first is
// kept (the comparisons are strict), so ranges of consecutive pieces, merged in their order
// by compactMergeRange(), are exactly the range of the whole.
template <class Points>
void compactScanRange(Points pa, int from, int to, const int *dims, int nd, ANNcoord *lo,
	ANNcoord *hi)
{
	for (int j = 0; j < nd; j++) {
		lo[dims[j]] = from == 0 ? CA(0,dims[j]) : std::numeric_limits<ANNcoord>::infinity();
		hi[dims[j]] = from == 0 ? CA(0,dims[j]) : -std::numeric_limits<ANNcoord>::infinity();
	}
	const int first = from == 0 ? 1 : from;
	if (nd == 1) {						// the usual case, its range in registers
		const int d = dims[0];
		ANNcoord l = lo[d], h = hi[d];
		for (int i = first; i < to; i++) {
			const ANNcoord c = pa.at(i)[d];
			if (c < l) l = c;
			if (c > h) h = c;
		}
		lo[d] = l;
		hi[d] = h;
		return;
	}
	if (nd == pa.dim) {					// every dimension (dims are increasing): the bounding box
		compactExtendBox(pa, first, to, nd, lo, hi);
		return;
	}
	for (int i = first; i < to; i++) {
		const ANNcoord *p = pa.at(i);
		for (int j = 0; j < nd; j++) {
			const int d = dims[j];
			if (p[d] < lo[d]) lo[d] = p[d];
			if (p[d] > hi[d]) hi[d] = p[d];	// (never both: lo <= hi, or the NaN of position 0)
		}
	}
}

// Merges the range of a later piece (lo2, hi2) into (lo, hi), keeping the first of equal values.
void compactMergeRange(const int *dims, int nd, ANNcoord *lo, ANNcoord *hi, const ANNcoord *lo2,
	const ANNcoord *hi2)
{
	for (int j = 0; j < nd; j++) {
		const int d = dims[j];
		if (lo2[d] < lo[d]) lo[d] = lo2[d];
		if (hi2[d] > hi[d]) hi[d] = hi2[d];
	}
}

// Cells of fewer points are scanned by one thread: starting a thread costs about as much as
// scanning a few thousand points.
const int PARALLEL_SCAN_MIN_POINTS = 1 << 16;

// The range of positions [0, n) along dims[0..nd) into lo and hi, in one pass over the points
// (one read of each point's coordinates instead of one a dimension), split into consecutive
// pieces on up to `threads` threads (the calling one and threads - 1 started here, all joined
// before returning; a thread that cannot be started, for want of threads or of memory, means
// scanning its piece here). May throw std::bad_alloc before any thread starts.
template <class Points>
void compactRange(Points pa, int n, int dim, const int *dims, int nd, ANNcoord *lo,
	ANNcoord *hi, int threads)
{
	if (threads < 2 || n < PARALLEL_SCAN_MIN_POINTS) {
		compactScanRange(pa, 0, n, dims, nd, lo, hi);
		return;
	}
	std::vector<ANNcoord> pieces(2 * dim * threads);	// piece k's lo, then its hi
	std::vector<std::thread> workers;
	workers.reserve(threads - 1);
	int started = 1;
	for (; started < threads; started++) {
		ANNcoord *plo = &pieces[2 * dim * started];
		const int from = (int) ((long long) n * started / threads);
		const int to = (int) ((long long) n * (started + 1) / threads);
		try {
			workers.emplace_back([=] { compactScanRange(pa, from, to, dims, nd, plo, plo + dim); });
		}
		catch (...) {					// std::system_error, or bad_alloc for the thread's state
			break;
		}
	}
	for (int k = started; k < threads; k++) {			// the pieces no thread took
		ANNcoord *plo = &pieces[2 * dim * k];
		compactScanRange(pa, (int) ((long long) n * k / threads),
			(int) ((long long) n * (k + 1) / threads), dims, nd, plo, plo + dim);
	}
	compactScanRange(pa, 0, (int) ((long long) n / threads), dims, nd, lo, hi);
	for (size_t w = 0; w < workers.size(); w++) workers[w].join();
	for (int k = 1; k < threads; k++)
		compactMergeRange(dims, nd, lo, hi, &pieces[2 * dim * k], &pieces[2 * dim * k + dim]);
}

// The candidates of sl_midpt_split() for the cell lo, hi, in order: the dimensions whose side is
// within ERR of the longest (the test compactSlMidptSplit() makes of small cells as it scans
// them). Their number.
int compactCandidates(const ANNcoord *lo, const ANNcoord *hi, int dim, int *dims)
{
	ANNcoord max_length = hi[0] - lo[0];
	for (int d = 1; d < dim; d++) {
		ANNcoord length = hi[d] - lo[d];
		if (length > max_length) {
			max_length = length;
		}
	}
	int nd = 0;
	for (int d = 0; d < dim; d++)
		if ((hi[d] - lo[d]) >= (1-ERR)*max_length) dims[nd++] = d;
	return nd;
}

// The ranges of a split's two children along their candidates, when each child has one (the
// usual case), taken while the split's first pass meets their points (each once, in no
// particular order). The least and greatest values do not depend on the order, but for the sign
// of a zero and for NaNs, which scans meeting points in position order treat by their positions:
// a range that holds a zero or met a NaN is not used (compactCutRanging()).
struct SideRanges {
	int					d_low, d_high;	// the low child's candidate, the high child's
	ANNcoord			low_min, low_max, high_min, high_max;
	bool				nan;

	void low(const ANNcoord *p)
		{
			const ANNcoord c = p[d_low];
			if (c < low_min) low_min = c;
			if (c > low_max) low_max = c;
			nan = nan || c != c;
		}
	void high(const ANNcoord *p)
		{
			const ANNcoord c = p[d_high];
			if (c < high_min) high_min = c;
			if (c > high_max) high_max = c;
			nan = nan || c != c;
		}
};

// sl_midpt_split()'s cut value: the cell's midpoint along cut_dim, slid into [min, max].
inline ANNcoord compactCutValue(const ANNcoord *lo, const ANNcoord *hi, int cut_dim,
	ANNcoord min, ANNcoord max)
{
	ANNcoord ideal_cut_val = (lo[cut_dim] + hi[cut_dim])/2;
	if (ideal_cut_val < min) return min;
	if (ideal_cut_val > max) return max;
	return ideal_cut_val;
}

// The rest of sl_midpt_split() once the cutting dimension and the cell's range along it
// [min, max] are known: the cut value, the plane split of the positions, n_lo.
template <class Points, class Sides>
int compactCut(Points pa, ANNidxArray pidx, const ANNcoord *lo, const ANNcoord *hi,
	int n, int dim, int cut_dim, ANNcoord min, ANNcoord max, ANNcoord &cut_val, int &n_lo,
	Sides &sides)
{
	assert(n >= 2 && 0 <= cut_dim && cut_dim < dim);
	ANNcoord ideal_cut_val = (lo[cut_dim] + hi[cut_dim])/2;
	cut_val = compactCutValue(lo, hi, cut_dim, min, max);
	int br1, br2;
	compactPlaneSplit(pa, pidx, n, cut_dim, dim, cut_val, br1, br2, sides);
	if (ideal_cut_val < min) n_lo = 1;
	else if (ideal_cut_val > max) n_lo = n-1;
	else if (br1 > n/2) n_lo = br1;
	else if (br2 < n/2) n_lo = br2;
	else n_lo = n/2;
	assert(0 <= br1 && br1 <= br2 && br2 <= n);
	assert(0 < n_lo && n_lo < n);		// (both children hold points)
	return br1;
}

// compactCut() that also takes the ranges of both children along their candidates into
// children[0..4*dim) (the low child's lo and hi, then the high child's) while the first pass
// meets their points. True when those are exactly the ranges the children's scans would find:
// the low child holds the points below cv (n_lo is their number), and no range holds a zero
// or met a NaN.
template <class Points>
bool compactCutRanging(Points pa, ANNidxArray pidx, const ANNcoord *lo, const ANNcoord *hi,
	int n, int dim, int cut_dim, ANNcoord min, ANNcoord max, ANNcoord &cut_val, int &n_lo,
	ANNcoord *children)
{
	const ANNcoord cv = compactCutValue(lo, hi, cut_dim, min, max);
	std::vector<ANNcoord> cell(lo, lo + dim);
	cell.insert(cell.end(), hi, hi + dim);
	std::vector<int> dims(dim);
	cell[dim + cut_dim] = cv;			// the low child's cell
	const bool one_low = compactCandidates(&cell[0], &cell[dim], dim, &dims[0]) == 1;
	const int d_low = dims[0];
	cell[dim + cut_dim] = hi[cut_dim];
	cell[cut_dim] = cv;					// the high child's
	const bool one_high = compactCandidates(&cell[0], &cell[dim], dim, &dims[0]) == 1;
	const int d_high = dims[0];
	if (!one_low || !one_high) {
		NoSides none;
		compactCut(pa, pidx, lo, hi, n, dim, cut_dim, min, max, cut_val, n_lo, none);
		return false;
	}
	const ANNcoord inf = std::numeric_limits<ANNcoord>::infinity();
	SideRanges sides = { d_low, d_high, inf, -inf, inf, -inf, false };
	const int br1 = compactCut(pa, pidx, lo, hi, n, dim, cut_dim, min, max, cut_val, n_lo, sides);
	if (sides.nan || n_lo != br1 || sides.low_min == 0 || sides.low_max == 0 ||
		sides.high_min == 0 || sides.high_max == 0) return false;
	children[d_low] = sides.low_min;
	children[dim + d_low] = sides.low_max;
	children[2 * dim + d_high] = sides.high_min;
	children[3 * dim + d_high] = sides.high_max;
	return true;
}

// Cells of at least this many points take the range of every candidate dimension in one
// pass (the points no longer fit in the caches); smaller ones scan a dimension at a time,
// which reads fewer coordinates and allocates nothing.
const int ONE_PASS_MIN_POINTS = 1 << 12;

// The cell over positions [0, n) with bounds lo, hi: as sl_midpt_split(), with the same
// choices. The spreads and the cutting dimension's range come from compactRange() (on up to
// `threads` threads) for large cells; min and max do not depend on the order of the scan.
// Each candidate's range is scanned once and gives its spread (the cut's range is the chosen
// one's), and the second pass of the plane split is left out when it has nothing to do.
// `known`, when not NULL, is the points' range (lo[0..dim), then hi) along at least the cell's
// candidates, as the scans would find it: the bounding box at the root, a parent's split for
// its children. Nothing is then scanned before the plane split. `children`, when not NULL,
// receives the children's ranges (as compactCutRanging()); true when it did. Taking them in the
// parent's split saves the children a scan of their points from memory.
template <class Points>
bool compactSlMidptSplit(Points pa, ANNidxArray pidx, const ANNcoord *lo,
	const ANNcoord *hi, int n, int dim, int &cut_dim, ANNcoord &cut_val, int &n_lo, int threads,
	const ANNcoord *known, ANNcoord *children)
{
	int d;
	cut_dim = 0;						// (set below whenever bounds are numbers)
	ANNcoord max_length = hi[0] - lo[0];
	for (d = 1; d < dim; d++) {
		ANNcoord length = hi[d] - lo[d];
		if (length > max_length) {
			max_length = length;
		}
	}
	ANNcoord max_spread = -1;
	ANNcoord min = 0, max = 0;			// (always set below; GCC cannot tell at -O1)
	if (n < ONE_PASS_MIN_POINTS) {		// (one scan gives a dimension's spread and range)
		bool ranged = false;
		for (d = 0; d < dim; d++) {
			if ((hi[d] - lo[d]) >= (1-ERR)*max_length) {
				ANNcoord d_min, d_max;
				if (known != NULL) {
					d_min = known[d];
					d_max = known[dim + d];
				}
				else compactMinMax(pa, n, d, d_min, d_max);
				ANNcoord spr = d_max - d_min;
				if (spr > max_spread) {
					max_spread = spr;
					cut_dim = d;
					min = d_min;
					max = d_max;
					ranged = true;
				}
			}
		}
		if (!ranged) compactMinMax(pa, n, cut_dim, min, max);
	}
	else {
		std::vector<int> dims(dim);		// the candidates
		dims.resize(compactCandidates(lo, hi, dim, &dims[0]));
		std::vector<ANNcoord> range(2 * dim);
		if (known != NULL)
			range.assign(known, known + 2 * dim);
		else if (!dims.empty())
			compactRange(pa, n, dim, &dims[0], (int) dims.size(), &range[0], &range[dim],
				threads);
		bool ranged = false;
		for (size_t j = 0; j < dims.size(); j++) {
			d = dims[j];
			ANNcoord spr = range[dim + d] - range[d];
			if (spr > max_spread) {
				max_spread = spr;
				cut_dim = d;
				ranged = true;
			}
		}
		if (!ranged) {					// (bounds or spreads that are not numbers)
			dims.assign(1, cut_dim);
			compactRange(pa, n, dim, &dims[0], 1, &range[0], &range[dim], threads);
		}
		min = range[cut_dim];
		max = range[dim + cut_dim];
	}
	if (children != NULL)
		return compactCutRanging(pa, pidx, lo, hi, n, dim, cut_dim, min, max, cut_val, n_lo,
			children);
	NoSides none;
	compactCut(pa, pidx, lo, hi, n, dim, cut_dim, min, max, cut_val, n_lo, none);
	return false;
}

// The points of a cell inside one block, one after another: read without the block arithmetic
// of ANNcompactPoints, whose view the steps above also take (for cells across blocks).
struct FlatPoints {
	ANNcoord			*base;
	int					dim;

	ANNcoord *at(int i) const { return base + (size_t) i * dim; }
	FlatPoints from(int a) const { FlatPoints view = { at(a), dim }; return view; }
};

template <class Points>
void compactBuildIn(ANNkdCompact &t, Points pa, ANNidxArray pidx, int node, int a,
	int m, int dim, ANNcoord *lo, ANNcoord *hi, const ANNcoord *known);

// Builds the subtree over positions [a, a+m), m >= 2, as node `node` and its descendants, on
// this thread. lo, hi are the cell; they are modified on the way down and restored. A cell
// inside one block is built, all the way down, through a FlatPoints view.
void compactBuild(ANNkdCompact &t, ANNcompactPoints pa, ANNidxArray pidx, int node, int a,
	int m, int dim, ANNcoord *lo, ANNcoord *hi, const ANNcoord *known)
{
	const unsigned first = (unsigned) (pa.first + a);
	const unsigned last = first + (unsigned) (m - 1);
	if (first >> pa.bits == last >> pa.bits) {
		const FlatPoints flat = { pa.at(a), dim };
		compactBuildIn(t, flat, pidx + a, node, 0, m, dim, lo, hi, known);
	}
	else
		compactBuildIn(t, pa, pidx, node, a, m, dim, lo, hi, known);
}

// The children of a cell of either view: of a flat one, flat too; of one across blocks, looked
// at again.
inline void compactBuildChild(ANNkdCompact &t, FlatPoints pa, ANNidxArray pidx, int node, int a,
	int m, int dim, ANNcoord *lo, ANNcoord *hi, const ANNcoord *known)
	{ compactBuildIn(t, pa, pidx, node, a, m, dim, lo, hi, known); }
inline void compactBuildChild(ANNkdCompact &t, ANNcompactPoints pa, ANNidxArray pidx, int node,
	int a, int m, int dim, ANNcoord *lo, ANNcoord *hi, const ANNcoord *known)
	{ compactBuild(t, pa, pidx, node, a, m, dim, lo, hi, known); }

// compactBuild() with the cell's points viewed through pa.
template <class Points>
void compactBuildIn(ANNkdCompact &t, Points pa, ANNidxArray pidx, int node, int a,
	int m, int dim, ANNcoord *lo, ANNcoord *hi, const ANNcoord *known)
{
	assert(m >= 2);						// (a single point is a leaf: no node)
	int cd;
	ANNcoord cv;
	int n_lo;
	// A cell across blocks takes its children's ranges as it splits: their own scans would read
	// them from memory again. (Inside a block it gains nothing: measured from 4,096 points on.)
	std::vector<ANNcoord> children;
	if (std::is_same<Points, ANNcompactPoints>::value) children.resize(4 * dim);
	const bool ranged = compactSlMidptSplit(pa.from(a), pidx + a, lo, hi, m, dim, cd, cv, n_lo,
		1, known, children.empty() ? NULL : &children[0]);
	ANNcompactNode &x = t.node(node);
	x.cut_val = cv;
	x.n_lo = n_lo;
	x.cut_dim = cd;
	ANNcoord lv = lo[cd];
	ANNcoord hv = hi[cd];
	if (n_lo >= 2) {
		hi[cd] = cv;
		compactBuildChild(t, pa, pidx, node + 1, a, n_lo, dim, lo, hi,
			ranged ? &children[0] : NULL);
		hi[cd] = hv;
	}
	if (m - n_lo >= 2) {
		lo[cd] = cv;
		compactBuildChild(t, pa, pidx, node + n_lo, a + n_lo, m - n_lo, dim, lo, hi,
			ranged ? &children[2 * dim] : NULL);
		lo[cd] = lv;
	}
}

//----------------------------------------------------------------------
//	Construction on several threads. A subtree over m points, once its
//	parent's split is made, owns m-1 consecutive nodes and m consecutive
//	positions of pidx and of the coordinates, and reads nothing outside
//	them, so the pending subtrees can be built in any order by any
//	thread, each exactly as one thread builds it: the tree is the same
//	for any number of threads.
//----------------------------------------------------------------------

struct CompactTask {					// a subtree to build
	int					node;
	int					a;				// its positions [a, a+m)
	int					m;				// m >= 2
	std::vector<ANNcoord> box;			// its cell: lo[0..dim), then hi
	std::vector<ANNcoord> known;		// its points' range on its candidates, or empty
};

struct CompactPool {					// the pending subtrees and their builders
	ANNkdCompact		&t;
	ANNcompactPoints	pa;
	ANNidxArray			pidx;
	int					dim;
	std::mutex			lock;			// guards the members below
	std::condition_variable changed;	// a task came, or the work ended
	std::vector<CompactTask> tasks;
	int					busy;			// threads building a task
	std::atomic<int>	idle;			// threads waiting for one (read without the lock)
	std::exception_ptr	failure;		// the first exception of a builder

	CompactPool(ANNkdCompact &tree, ANNcompactPoints points, ANNidxArray indices, int d)
		: t(tree), pa(points), pidx(indices), dim(d), busy(0), idle(0) {}
};

// Subtrees of fewer points are not handed to another thread: the hand-over (a lock, a copy
// of the cell, a wake-up) costs about as much as building a few thousand points.
const int SHARE_MIN_POINTS = 1 << 12;

// The test switch annCompactShareAlways().
std::atomic<bool> shareAlways(false);

// Adds the subtree (node, a, m) with cell lo, hi to the pool; its largest task comes first.
void compactPush(std::vector<CompactTask> &tasks, int node, int a, int m, int dim,
	const ANNcoord *lo, const ANNcoord *hi, const ANNcoord *known)
{
	CompactTask task;
	task.node = node;
	task.a = a;
	task.m = m;
	task.box.assign(lo, lo + dim);
	task.box.insert(task.box.end(), hi, hi + dim);
	if (known != NULL) task.known.assign(known, known + 2 * dim);
	tasks.push_back(std::move(task));
}

// The pool's largest task, removed from it (the pool is not empty).
CompactTask compactTakeLargest(std::vector<CompactTask> &tasks)
{
	size_t best = 0;
	for (size_t i = 1; i < tasks.size(); i++)
		if (tasks[i].m > tasks[best].m) best = i;
	std::swap(tasks[best], tasks.back());
	CompactTask task = std::move(tasks.back());
	tasks.pop_back();
	return task;
}

// True when the subtree (node, a, m), lo, hi went to the pool for a waiting thread.
bool compactShare(CompactPool &p, int node, int a, int m, const ANNcoord *lo,
	const ANNcoord *hi, const ANNcoord *known)
{
	std::lock_guard<std::mutex> guard(p.lock);
	if (!shareAlways.load() && (int) p.tasks.size() >= p.idle.load()) return false;
	compactPush(p.tasks, node, a, m, p.dim, lo, hi, known);
	p.changed.notify_one();
	return true;
}

// As compactBuild(), handing the larger side of a split to the pool while a thread waits.
void compactBuildShared(CompactPool &p, int node, int a, int m, ANNcoord *lo, ANNcoord *hi,
	const ANNcoord *known)
{
	if (m < 2 * SHARE_MIN_POINTS) {
		compactBuild(p.t, p.pa, p.pidx, node, a, m, p.dim, lo, hi, known);
		return;
	}
	int cd;
	ANNcoord cv;
	int n_lo;
	std::vector<ANNcoord> children(4 * p.dim);
	const bool ranged = compactSlMidptSplit(p.pa.from(a), p.pidx + a, lo, hi, m, p.dim, cd, cv,
		n_lo, 1, known, &children[0]);
	const ANNcoord *known_lo = ranged ? &children[0] : NULL;
	const ANNcoord *known_hi = ranged ? &children[2 * p.dim] : NULL;
	ANNcompactNode &x = p.t.node(node);
	x.cut_val = cv;
	x.n_lo = n_lo;
	x.cut_dim = cd;
	ANNcoord lv = lo[cd];
	ANNcoord hv = hi[cd];
	bool low_done = false, high_done = false;
	if (n_lo >= SHARE_MIN_POINTS && m - n_lo >= SHARE_MIN_POINTS &&
		(p.idle.load() > 0 || shareAlways.load())) {
		if (n_lo >= m - n_lo) {
			hi[cd] = cv;
			low_done = compactShare(p, node + 1, a, n_lo, lo, hi, known_lo);
			hi[cd] = hv;
		}
		else {
			lo[cd] = cv;
			high_done = compactShare(p, node + n_lo, a + n_lo, m - n_lo, lo, hi, known_hi);
			lo[cd] = lv;
		}
	}
	if (n_lo >= 2 && !low_done) {
		hi[cd] = cv;
		compactBuildShared(p, node + 1, a, n_lo, lo, hi, known_lo);
		hi[cd] = hv;
	}
	if (m - n_lo >= 2 && !high_done) {
		lo[cd] = cv;
		compactBuildShared(p, node + n_lo, a + n_lo, m - n_lo, lo, hi, known_hi);
		lo[cd] = lv;
	}
}

// One builder: takes the largest pending subtree and builds it, until none is pending and
// no thread is building (or a builder failed: its exception is kept in the pool).
void compactWork(CompactPool &p)
{
	std::unique_lock<std::mutex> guard(p.lock);
	for (;;) {
		while (p.tasks.empty() && p.busy > 0 && !p.failure) {
			p.idle++;
			p.changed.wait(guard);
			p.idle--;
		}
		if (p.tasks.empty() || p.failure) break;
		CompactTask task = compactTakeLargest(p.tasks);
		p.busy++;
		guard.unlock();
		std::exception_ptr failure;
		try {
			compactBuildShared(p, task.node, task.a, task.m, &task.box[0], &task.box[p.dim],
				task.known.empty() ? NULL : &task.known[0]);
		}
		catch (...) {
			failure = std::current_exception();
		}
		guard.lock();
		p.busy--;
		if (failure && !p.failure) p.failure = failure;
		if (p.failure || (p.busy == 0 && p.tasks.empty())) p.changed.notify_all();
	}
}

// The top of the tree on this thread, each split's scans on all threads, until there is a
// pending subtree for every thread (the partitions are sequential: the sooner every thread
// builds a subtree of its own, the shorter the construction; measured); then `threads`
// builders (this one and threads - 1 started here, all joined before returning) share the
// rest. Passes on a builder's exception.
void compactBuildParallel(CompactPool &p, int n, const ANNcoord *lo, const ANNcoord *hi,
	int threads)
{
	std::vector<ANNcoord> box(lo, lo + p.dim);	// the root's cell is its points' range
	box.insert(box.end(), hi, hi + p.dim);
	compactPush(p.tasks, 0, 0, n, p.dim, lo, hi, &box[0]);
	while ((int) p.tasks.size() < threads) {
		CompactTask task = compactTakeLargest(p.tasks);
		if (task.m < PARALLEL_SCAN_MIN_POINTS) {
			p.tasks.push_back(std::move(task));
			break;
		}
		ANNcoord *tlo = &task.box[0], *thi = &task.box[p.dim];
		int cd;
		ANNcoord cv;
		int n_lo;
		std::vector<ANNcoord> children(4 * p.dim);
		const bool ranged = compactSlMidptSplit(p.pa.from(task.a), p.pidx + task.a, tlo, thi,
			task.m, p.dim, cd, cv, n_lo, threads, task.known.empty() ? NULL : &task.known[0],
			&children[0]);
		ANNcompactNode &x = p.t.node(task.node);
		x.cut_val = cv;
		x.n_lo = n_lo;
		x.cut_dim = cd;
		ANNcoord lv = tlo[cd], hv = thi[cd];
		thi[cd] = cv;
		if (n_lo >= 2)
			compactPush(p.tasks, task.node + 1, task.a, n_lo, p.dim, tlo, thi,
				ranged ? &children[0] : NULL);
		thi[cd] = hv;
		tlo[cd] = cv;
		if (task.m - n_lo >= 2)
			compactPush(p.tasks, task.node + n_lo, task.a + n_lo, task.m - n_lo, p.dim, tlo, thi,
				ranged ? &children[2 * p.dim] : NULL);
		tlo[cd] = lv;
		if (p.tasks.empty()) return;
	}
	std::vector<std::thread> builders;
	builders.reserve(threads - 1);
	for (int b = 1; b < threads; b++) {
		try {
			builders.emplace_back([&p] { compactWork(p); });
		}
		catch (...) {					// (as in compactRange()) fewer builders
			break;
		}
	}
	compactWork(p);
	for (size_t b = 0; b < builders.size(); b++) builders[b].join();
	if (p.failure) std::rethrow_exception(p.failure);
}

// Builds the compact tree over the n points that `points` places (its blocks, when `blocks`
// is not NULL, taken into the tree's own list) into compact, pidx and the bounding box, on up
// to `threads` threads. On failure (std::bad_alloc, or an exception of a thread) releases
// what it allocated, leaves the four NULL and rethrows.
void compactConstruct(ANNkdCompact *&compact, ANNidxArray &pidx, ANNpoint &bnd_box_lo,
	ANNpoint &bnd_box_hi, ANNcompactPoints points, std::vector<ANNcoord*> *blocks, int n,
	int dd, int threads)
{
	try {
		pidx = new ANNidx[n];
		for (int i = 0; i < n; i++) pidx[i] = i;
		if (n == 0) return;
		compact = new ANNkdCompact(n - 1);
		if (blocks != NULL) {
			compact->point_blocks.swap(*blocks);
			points.blocks = &compact->point_blocks[0];
		}
		compact->points = points;
		// At most the machine's cores, when it tells them (but under the test switch).
		const unsigned cores = std::thread::hardware_concurrency();
		if (cores != 0 && threads > (int) cores && !shareAlways.load()) threads = (int) cores;
		if (threads < 1) threads = 1;
		std::vector<int> dims(dd);		// the bounding box, as annEnclRect()
		for (int d = 0; d < dd; d++) dims[d] = d;
		std::vector<ANNcoord> box(2 * dd);
		compactRange(points, n, dd, &dims[0], dd, &box[0], &box[dd], threads);
		bnd_box_lo = annCopyPt(dd, &box[0]);
		bnd_box_hi = annCopyPt(dd, &box[dd]);
		if (n >= 2 && (threads == 1 || n < 2 * SHARE_MIN_POINTS))	// (nothing to share)
			compactBuild(*compact, points, pidx, 0, 0, n, dd, &box[0], &box[dd], &box[0]);
		else if (n >= 2) {
			CompactPool pool(*compact, points, pidx, dd);
			compactBuildParallel(pool, n, &box[0], &box[dd], threads);
		}
		annCompactPrepareScan(*compact, n, dd);
	}
	catch (...) {						// release what was allocated
		delete compact;
		if (bnd_box_hi != NULL) annDeallocPt(bnd_box_hi);
		if (bnd_box_lo != NULL) annDeallocPt(bnd_box_lo);
		delete [] pidx;
		compact = NULL;
		bnd_box_lo = bnd_box_hi = NULL;
		pidx = NULL;
		throw;
	}
}

} // namespace

ANNkd_tree::ANNkd_tree(					// build a compact tree
	ANNpointArray		pa,				// point array (rearranged)
	int					n,				// number of points
	int					dd,				// dimension
	ANNkdForm			form,			// ANN_KD_COMPACT
	int					threads)		// threads for the construction
	: ANNkd_tree(pa, 0, n, dd, form, threads)	// (a pointer a point: blocks of one)
{
	pts = pa;
}

ANNkd_tree::ANNkd_tree(					// build a compact tree over blocks
	ANNcoord			**blocks,		// the points, 2^block_bits a block (rearranged)
	int					block_bits,		// 0 ... 31
	int					n,				// number of points
	int					dd,				// dimension
	ANNkdForm			form,			// ANN_KD_COMPACT
	int					threads)		// threads for the construction
{
	dim = dd;
	n_pts = n;
	bkt_size = 1;
	pts = NULL;							// (no pointer array)
	pidx = NULL;
	root = NULL;
	bnd_box_lo = bnd_box_hi = NULL;
	compact = NULL;
	if (form != ANN_KD_COMPACT) annError("Illegal tree form", ANNabort);
	if (block_bits < 0 || block_bits > 31) annError("Illegal block size", ANNabort);
	// Blocks of one point are a pointer array, which stays the caller's; a list of larger
	// blocks is short, and the tree keeps a copy.
	std::vector<ANNcoord*> list;
	if (block_bits > 0 && n > 0)
		list.assign(blocks, blocks + ((unsigned) (n - 1) >> block_bits) + 1);
	const ANNcompactPoints points = { blocks, block_bits, dd, 0 };
	compactConstruct(compact, pidx, bnd_box_lo, bnd_box_hi, points,
		block_bits > 0 ? &list : NULL, n, dd, threads);
}

void annCompactShareAlways(bool on)
{
	shareAlways.store(on);
}
