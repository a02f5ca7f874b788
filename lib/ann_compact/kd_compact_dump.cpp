//----------------------------------------------------------------------
// File:			kd_compact_dump.cpp
// Description:		Dumping a compact kd-tree
//----------------------------------------------------------------------
//	In the format of ANNkd_split::dump() and ANNkd_leaf::dump(): the
//	bounds a split would store are the cell's, tracked on the way down.
//----------------------------------------------------------------------
#include "kd_compact.h"

#include <vector>

namespace {

void compactDump(const ANNkdCompact &t, ANNidxArray pidx, ANNcoord *lo, ANNcoord *hi,
	int node, int a, int m, ostream &out)
{
	if (m == 1) {
		out << "leaf 1 " << pidx[a] << "\n";
		return;
	}
	const ANNcompactNode &x = t.node(node);
	const ANNcoord lv = lo[x.cut_dim];
	const ANNcoord hv = hi[x.cut_dim];
	out << "split " << x.cut_dim << " " << x.cut_val << " ";
	out << lv << " " << hv << "\n";
	hi[x.cut_dim] = x.cut_val;
	compactDump(t, pidx, lo, hi, node + 1, a, x.n_lo, out);
	hi[x.cut_dim] = hv;
	lo[x.cut_dim] = x.cut_val;
	compactDump(t, pidx, lo, hi, node + x.n_lo, a + x.n_lo, m - x.n_lo, out);
	lo[x.cut_dim] = lv;
}

} // namespace

void annCompactDump(					// dump the nodes of a compact tree
	const ANNkdCompact	&t,
	ANNidxArray			pidx,
	ANNpoint			bnd_box_lo,
	ANNpoint			bnd_box_hi,
	int					n,
	int					dim,
	ostream				&out)
{
	std::vector<ANNcoord> box(bnd_box_lo, bnd_box_lo + dim);
	box.insert(box.end(), bnd_box_hi, bnd_box_hi + dim);
	compactDump(t, pidx, &box[0], &box[dim], 0, 0, n, out);
}
