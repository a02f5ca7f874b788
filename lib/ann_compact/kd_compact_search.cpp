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
};

void compactLeafSearch(CompactSearch &s, int a)		// as ANNkd_leaf::ann_search()
{
	ANNkdSearchState &st = s.st;
	ANNdist dist;
	ANNcoord *pp;
	ANNcoord *qq;
	ANNdist min_dist;
	ANNcoord t;
	int d;

	min_dist = st.pointMK->max_key();
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
	}
	st.ptsVisited += 1;
}

void compactSearch(CompactSearch &s, int node, int a, int m, ANNdist box_dist);

inline void compactVisit(CompactSearch &s, int node, int a, int m, ANNdist box_dist)
{
	if (m == 1) compactLeafSearch(s, a);
	else compactSearch(s, node, a, m, box_dist);
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
// ANNkd_split::ann_search() updates it, passes the bound (eps 0: maxErr is 1). The cell is the
// split's own.
void compactFarChild(CompactSearch &s, const CompactSplit &x, ANNdist box_dist)
{
	ANNkdSearchState &st = s.st;
	if (x.cut_diff < 0) {				// left of cutting plane: the high side
		ANNcoord box_diff = x.lv - st.q[x.cut_dim];
		if (box_diff < 0)
			box_diff = 0;
		box_dist = (ANNdist) ANN_SUM(box_dist,
				ANN_DIFF(ANN_POW(box_diff), ANN_POW(x.cut_diff)));

		if (box_dist * st.maxErr < st.pointMK->max_key()) {
			s.lo[x.cut_dim] = x.cut_val;
			compactVisit(s, x.node + x.n_lo, x.a + x.n_lo, x.m - x.n_lo, box_dist);
			s.lo[x.cut_dim] = x.lv;
		}
	}
	else {								// right of cutting plane: the low side
		ANNcoord box_diff = st.q[x.cut_dim] - x.hv;
		if (box_diff < 0)
			box_diff = 0;
		box_dist = (ANNdist) ANN_SUM(box_dist,
				ANN_DIFF(ANN_POW(box_diff), ANN_POW(x.cut_diff)));

		if (box_dist * st.maxErr < st.pointMK->max_key()) {
			s.hi[x.cut_dim] = x.cut_val;
			compactVisit(s, x.node + 1, x.a, x.n_lo, box_dist);
			s.hi[x.cut_dim] = x.hv;
		}
	}
}

void compactSearch(CompactSearch &s, int node, int a, int m, ANNdist box_dist)
{										// as ANNkd_split::ann_search()
	if (ANNmaxPtsVisited != 0 && s.st.ptsVisited > ANNmaxPtsVisited) return;

	const CompactSplit x = compactSplitAt(s, node, a, m);
	int near_node, near_a, near_m;
	compactEnterNear(s, x, near_node, near_a, near_m);
	compactVisit(s, near_node, near_a, near_m, box_dist);
	compactLeaveNear(s, x);
	compactFarChild(s, x, box_dist);
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
	CompactSearch s = { st, t, pidx, &box[0], &box[st.dim] };
	compactVisit(s, 0, 0, n,
		annBoxDistance(st.q, bnd_box_lo, bnd_box_hi, st.dim));
	for (int i = 0; i < k; i++) {		// as annkSearch() reads them out
		dd[i] = mk.ith_smallest_key(i);
		nn_idx[i] = mk.ith_smallest_info(i);
	}
}
