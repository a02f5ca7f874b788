//----------------------------------------------------------------------
// File:			kd_compact_search.cpp
// Description:		Searching a compact kd-tree
//----------------------------------------------------------------------
//	See kd_compact.h for the layout. The search follows
//	ANNkd_split::ann_search() and ANNkd_leaf::ann_search() with the same
//	arithmetic in the same order.
//----------------------------------------------------------------------
#include "kd_compact.h"
#include "kd_search.h"

#include <vector>

namespace {

struct CompactSearch {					// one search of a compact tree
	ANNkdSearchState	&st;
	const ANNkdCompact	&t;
	ANNidxArray			pidx;
	ANNcoord			*lo;			// the current cell
	ANNcoord			*hi;
	ANNpartBounds		*bounds;		// a part's search: the shared bounds
	int					part;			// and which part it is
};

// The whole search cuts itself short by its own k-th distance alone, as ANN's does.
struct OwnBound {
	static ANNdist leaf(CompactSearch &s)
		{ return s.st.pointMK->max_key(); }
	static bool visits(CompactSearch &s, ANNdist box_dist)
		{ return box_dist * s.st.maxErr < s.st.pointMK->max_key(); }
	static void inserted(CompactSearch &) {}
};

// A part's search also by the other part's k-th distance so far, which can only fall. Part 0's
// points come first in the search's order, so at an equal distance one of them still beats
// every point of part 1: part 0 drops only what lies beyond part 1's k-th distance, part 1
// also what lies at part 0's. Either way only points that cannot be among the k nearest are
// left out, so the merged result is the same whatever the other part has found so far.
struct PartBound {
	static ANNdist other(CompactSearch &s)
		{ return s.bounds->kth[1 - s.part].load(std::memory_order_relaxed); }
	static ANNdist leaf(CompactSearch &s)
		{
			const ANNdist own = s.st.pointMK->max_key();
			const ANNdist o = other(s);
			return o < own ? o : own;	// a point beyond is dropped (a tie kept)
		}
	static bool visits(CompactSearch &s, ANNdist box_dist)
		{
			if (!(box_dist < s.st.pointMK->max_key())) return false;	// eps 0
			return s.part == 0 ? box_dist <= other(s) : box_dist < other(s);
		}
	static void inserted(CompactSearch &s)
		{ s.bounds->kth[s.part].store(s.st.pointMK->max_key(), std::memory_order_relaxed); }
};

template <class Bound>
void compactLeafSearch(CompactSearch &s, int a)		// as ANNkd_leaf::ann_search()
{
	ANNkdSearchState &st = s.st;
	ANNdist dist;
	ANNcoord *pp;
	ANNcoord *qq;
	ANNdist min_dist;
	ANNcoord t;
	int d;

	min_dist = Bound::leaf(s);
	pp = s.t.points.at(a);
	qq = st.q;
	dist = 0;
	for(d = 0; d < st.dim; d++) {
		t = *(qq++) - *(pp++);
		if( (dist = ANN_SUM(dist, ANN_POW(t))) > min_dist) {
			break;
		}
	}
	if (d >= st.dim && (ANN_ALLOW_SELF_MATCH || dist!=0)) {
		st.pointMK->insert(dist, s.pidx[a]);
		Bound::inserted(s);
	}
	st.ptsVisited += 1;
}

template <class Bound>
void compactSearch(CompactSearch &s, int node, int a, int m, ANNdist box_dist);

template <class Bound>
inline void compactVisit(CompactSearch &s, int node, int a, int m, ANNdist box_dist)
{
	if (m == 1) compactLeafSearch<Bound>(s, a);
	else compactSearch<Bound>(s, node, a, m, box_dist);
}

// A split as a search passes it: its node, the positions [a, a+m) below it, its cut, and the
// cell's bounds along the cut dimension (the cell's other bounds are the search's lo and hi).
struct CompactSplit {
	int			node, a, m;
	int			cut_dim;
	ANNcoord	cut_val;
	int			n_lo;
	ANNcoord	lv, hv;
	ANNcoord	cut_diff;				// the query's offset from the cut
};

inline CompactSplit compactSplitAt(const CompactSearch &s, int node, int a, int m)
{
	const ANNcompactNode &x = s.t.node(node);
	const CompactSplit split = { node, a, m, x.cut_dim, x.cut_val, x.n_lo,
		s.lo[x.cut_dim], s.hi[x.cut_dim], s.st.q[x.cut_dim] - x.cut_val };
	return split;
}

// Narrows the cell to the split's near child (the query's side of the cut) and gives the
// child's node, first position and points; compactLeaveNear() widens the cell again.
inline void compactEnterNear(CompactSearch &s, const CompactSplit &x, int &node, int &a, int &m)
{
	if (x.cut_diff < 0) {				// left of cutting plane
		s.hi[x.cut_dim] = x.cut_val;
		node = x.node + 1; a = x.a; m = x.n_lo;
	}
	else {								// right of cutting plane
		s.lo[x.cut_dim] = x.cut_val;
		node = x.node + x.n_lo; a = x.a + x.n_lo; m = x.m - x.n_lo;
	}
}

inline void compactLeaveNear(CompactSearch &s, const CompactSplit &x)
{
	if (x.cut_diff < 0) s.hi[x.cut_dim] = x.hv;
	else s.lo[x.cut_dim] = x.lv;
}

// The far child of a split, after its near child: visited when the box distance, updated as
// ANNkd_split::ann_search() updates it, passes the bound. The cell is the split's own.
template <class Bound>
void compactFarChild(CompactSearch &s, const CompactSplit &x, ANNdist box_dist)
{
	ANNkdSearchState &st = s.st;
	if (x.cut_diff < 0) {				// left of cutting plane: the high side
		ANNcoord box_diff = x.lv - st.q[x.cut_dim];
		if (box_diff < 0)
			box_diff = 0;
		box_dist = (ANNdist) ANN_SUM(box_dist,
				ANN_DIFF(ANN_POW(box_diff), ANN_POW(x.cut_diff)));

		if (Bound::visits(s, box_dist)) {
			s.lo[x.cut_dim] = x.cut_val;
			compactVisit<Bound>(s, x.node + x.n_lo, x.a + x.n_lo, x.m - x.n_lo, box_dist);
			s.lo[x.cut_dim] = x.lv;
		}
	}
	else {								// right of cutting plane: the low side
		ANNcoord box_diff = st.q[x.cut_dim] - x.hv;
		if (box_diff < 0)
			box_diff = 0;
		box_dist = (ANNdist) ANN_SUM(box_dist,
				ANN_DIFF(ANN_POW(box_diff), ANN_POW(x.cut_diff)));

		if (Bound::visits(s, box_dist)) {
			s.hi[x.cut_dim] = x.cut_val;
			compactVisit<Bound>(s, x.node + 1, x.a, x.n_lo, box_dist);
			s.hi[x.cut_dim] = x.hv;
		}
	}
}

template <class Bound>
void compactSearch(CompactSearch &s, int node, int a, int m, ANNdist box_dist)
{										// as ANNkd_split::ann_search()
	if (ANNmaxPtsVisited != 0 && s.st.ptsVisited > ANNmaxPtsVisited) return;

	const CompactSplit x = compactSplitAt(s, node, a, m);
	int near_node, near_a, near_m;
	compactEnterNear(s, x, near_node, near_a, near_m);
	compactVisit<Bound>(s, near_node, near_a, near_m, box_dist);
	compactLeaveNear(s, x);
	compactFarChild<Bound>(s, x, box_dist);
}

} // namespace

void annCompactSearch(					// search a compact tree from the root
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
	if (annCompactScanSearch(st, t, pidx, bnd_box_lo, bnd_box_hi, n, k, nn_idx, dd)) return;
	ANNmin_k mk(k);
	st.pointMK = &mk;
	std::vector<ANNcoord> box(bnd_box_lo, bnd_box_lo + st.dim);
	box.insert(box.end(), bnd_box_hi, bnd_box_hi + st.dim);
	CompactSearch s = { st, t, pidx, &box[0], &box[st.dim], NULL, 0 };
	compactVisit<OwnBound>(s, 0, 0, n,
		annBoxDistance(st.q, bnd_box_lo, bnd_box_hi, st.dim));
	for (int i = 0; i < k; i++) {		// as annkSearch() reads them out
		dd[i] = mk.ith_smallest_key(i);
		nn_idx[i] = mk.ith_smallest_info(i);
	}
}

//----------------------------------------------------------------------
//	A search in two parts
//----------------------------------------------------------------------
//	The depth-first search descends the query's side of every split
//	first. The parts divide it where that descent reaches a cell of at
//	most PART_CELL_FACTOR * k points: part 0 searches that cell, which
//	the search meets first, part 1 the far children of the splits above
//	it, deepest first, as the search meets them on its way back up.
//	Each part visits more than half of the whole, as its bound starts
//	loose, but at 128 k the longer of the two takes clearly less than
//	the whole search (bench/PERFORMANCE.md).
//----------------------------------------------------------------------

namespace {

const long PART_CELL_FACTOR = 128;

} // namespace

void annCompactSearchPart(				// one part of a compact tree's search
	ANNkdSearchState	&st,
	const ANNkdCompact	&t,
	ANNidxArray			pidx,
	ANNpoint			bnd_box_lo,
	ANNpoint			bnd_box_hi,
	int					n,
	int					k,
	int					part,
	ANNpartBounds		&bounds)
{
	std::vector<ANNcoord> box(bnd_box_lo, bnd_box_lo + st.dim);
	box.insert(box.end(), bnd_box_hi, bnd_box_hi + st.dim);
	CompactSearch s = { st, t, pidx, &box[0], &box[st.dim], &bounds, part };
	const ANNdist box_dist = annBoxDistance(st.q, bnd_box_lo, bnd_box_hi, st.dim);

	std::vector<CompactSplit> path;		// the splits above part 0's cell
	int node = 0, a = 0, m = n;
	while (m > 1 && m > PART_CELL_FACTOR * k) {
		const CompactSplit x = compactSplitAt(s, node, a, m);
		path.push_back(x);
		compactEnterNear(s, x, node, a, m);
	}
	if (part == 0) {
		compactVisit<PartBound>(s, node, a, m, box_dist);
		return;
	}
	for (size_t i = path.size(); i-- > 0; ) {
		compactLeaveNear(s, path[i]);	// the cell of split i again
		compactFarChild<PartBound>(s, path[i], box_dist);
	}
}

void ANNkd_tree::annkSearchPart(
	ANNpoint			q,
	int					k,
	int					part,
	ANNpartBounds		&bounds,
	ANNidxArray			nn_idx,
	ANNdistArray		dd,
	int					&found)
{
	ANNkdSearchState st;				// as annkSearch() with eps 0
	st.dim = dim;
	st.q = q;
	st.pts = pts;
	st.ptsVisited = 0;
	st.maxErr = ANN_POW(1.0 + 0.0);
	if (k > n_pts) {
		annError("Requesting more near neighbors than data points", ANNabort);
	}
	ANNmin_k mk(k);
	st.pointMK = &mk;
	if (compact != NULL)
		annCompactSearchPart(st, *compact, pidx, bnd_box_lo, bnd_box_hi, n_pts, k, part,
			bounds);
	else if (part == 0)					// a classic tree: part 0 is the whole search
		root->ann_search(st, annBoxDistance(q, bnd_box_lo, bnd_box_hi, dim));

	for (found = 0; found < k && mk.ith_smallest_info(found) != PQ_NULL_INFO; found++) {
		dd[found] = mk.ith_smallest_key(found);
		nn_idx[found] = mk.ith_smallest_info(found);
	}
}

void annMergeParts(
	int					k,
	const ANNidx		*nn_idx0,
	const ANNdist		*dd0,
	int					found0,
	const ANNidx		*nn_idx1,
	const ANNdist		*dd1,
	int					found1,
	ANNidxArray			nn_idx,
	ANNdistArray		dd)
{
	int i = 0, j = 0;
	for (int out = 0; out < k; out++) {	// at an equal distance part 0 first
		if (j >= found1 || (i < found0 && dd0[i] <= dd1[j])) {
			nn_idx[out] = nn_idx0[i];
			dd[out] = dd0[i++];
		}
		else {
			nn_idx[out] = nn_idx1[j];
			dd[out] = dd1[j++];
		}
	}
}
