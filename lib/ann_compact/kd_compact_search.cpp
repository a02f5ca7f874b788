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
	pp = st.pts[a];
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

void compactSearch(CompactSearch &s, int node, int a, int m, ANNdist box_dist)
{										// as ANNkd_split::ann_search()
	ANNkdSearchState &st = s.st;
	if (ANNmaxPtsVisited != 0 && st.ptsVisited > ANNmaxPtsVisited) return;

	const ANNcompactNode &x = s.t.node(node);
	const int cut_dim = x.cut_dim;
	const ANNcoord cut_val = x.cut_val;
	const int n_lo = x.n_lo;
	const ANNcoord lv = s.lo[cut_dim];	// the split's bounds along cut_dim
	const ANNcoord hv = s.hi[cut_dim];
	ANNcoord cut_diff = st.q[cut_dim] - cut_val;

	if (cut_diff < 0) {					// left of cutting plane
		s.hi[cut_dim] = cut_val;
		compactVisit(s, node + 1, a, n_lo, box_dist);
		s.hi[cut_dim] = hv;

		ANNcoord box_diff = lv - st.q[cut_dim];
		if (box_diff < 0)
			box_diff = 0;
		box_dist = (ANNdist) ANN_SUM(box_dist,
				ANN_DIFF(ANN_POW(box_diff), ANN_POW(cut_diff)));

		if (box_dist * st.maxErr < st.pointMK->max_key()) {
			s.lo[cut_dim] = cut_val;
			compactVisit(s, node + n_lo, a + n_lo, m - n_lo, box_dist);
			s.lo[cut_dim] = lv;
		}
	}
	else {								// right of cutting plane
		s.lo[cut_dim] = cut_val;
		compactVisit(s, node + n_lo, a + n_lo, m - n_lo, box_dist);
		s.lo[cut_dim] = lv;

		ANNcoord box_diff = st.q[cut_dim] - hv;
		if (box_diff < 0)
			box_diff = 0;
		box_dist = (ANNdist) ANN_SUM(box_dist,
				ANN_DIFF(ANN_POW(box_diff), ANN_POW(cut_diff)));

		if (box_dist * st.maxErr < st.pointMK->max_key()) {
			s.hi[cut_dim] = cut_val;
			compactVisit(s, node + 1, a, n_lo, box_dist);
			s.hi[cut_dim] = hv;
		}
	}
}

} // namespace

void annCompactSearch(					// search a compact tree from the root
	ANNkdSearchState	&st,
	const ANNkdCompact	&t,
	ANNidxArray			pidx,
	ANNpoint			bnd_box_lo,
	ANNpoint			bnd_box_hi,
	int					n)
{
	std::vector<ANNcoord> box(bnd_box_lo, bnd_box_lo + st.dim);
	box.insert(box.end(), bnd_box_hi, bnd_box_hi + st.dim);
	CompactSearch s = { st, t, pidx, &box[0], &box[st.dim] };
	compactVisit(s, 0, 0, n,
		annBoxDistance(st.q, bnd_box_lo, bnd_box_hi, st.dim));
}
