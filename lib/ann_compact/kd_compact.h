//----------------------------------------------------------------------
// File:			kd_compact.h
// Description:		Compact form of a kd-tree of bucket size 1
//----------------------------------------------------------------------
//	The tree that ANNkd_tree(pa, n, dd, 1, ANN_KD_SUGGEST) builds, held
//	without node objects. With bucket size 1 and the sliding-midpoint
//	rule every split leaves at least one point on each side, so every
//	leaf holds exactly one point and a tree over n points has n-1
//	splitting nodes. They are stored in preorder: the node over the
//	positions [a, a+m) of the index array has its low child (over
//	[a, a+n_lo)) next to it and its high child n_lo places further on,
//	and a child over one position is the leaf of that position. A
//	split's bounds along its cutting dimension are the cell's, which a
//	search tracks while it descends instead of storing them. The
//	nodes live in blocks of bounded size (no allocation of n times 16
//	bytes in one piece). The coordinates are rearranged into leaf
//	order while the tree is built, so every scan of the construction
//	and every leaf of a search reads them in sequence.
//	Built in kd_compact_build.cpp, searched in kd_compact_search.cpp
//	and kd_compact_scan.cpp,
//	dumped in kd_compact_dump.cpp; ANNkd_tree reaches them through the
//	hooks of cmake/ann/patches/0003-compact-tree-hooks.patch.
//----------------------------------------------------------------------
#ifndef ANN_kd_compact_H
#define ANN_kd_compact_H

#include <vector>
#include "kd_tree.h"

struct ANNcompactNode {					// a splitting node: 16 bytes
	ANNcoord			cut_val;		// location of cutting plane
	int					n_lo;			// number of points on the low side
	int					cut_dim;		// dim orthogonal to cutting plane
};

// The coordinates of the points, by position: position p's are at
// blocks[p >> bits] + (p mod 2^bits) * dim, so a pointer array (ANNpointArray) is the case
// bits = 0, one block of consecutive points bits = 31. `first` shifts the positions: the view
// of a cell starting at position a is from(a).
struct ANNcompactPoints {
	ANNcoord *const		*blocks;
	int					bits;			// 0 ... 31
	int					dim;
	int					first;

	ANNcoord *at(int i) const
		{
			const unsigned p = (unsigned) (first + i);
			return blocks[p >> bits] + (size_t) (p & ((1u << bits) - 1)) * dim;
		}
	ANNcompactPoints from(int a) const
		{ ANNcompactPoints view = *this; view.first += a; return view; }
};

// A splitting node over more points than the search by buckets scans whole (kd_compact_scan.cpp),
// in the preorder of those nodes alone: a child that is one comes next (the low child) or
// `high` places further on (the high child). 16 bytes.
struct ANNcompactUpper {
	ANNcoord			cut_val;
	int					n_lo;
	unsigned			dim_high;		// cut_dim in the low 8 bits, high above them
};

struct ANNkdCompact {
	static const int	BLOCK_BITS = 16;	// 2^16 nodes (1 MB) a block
	std::vector<ANNcompactNode*> blocks;	// the splitting nodes in preorder

	ANNcompactNode &node(int i)
		{ return blocks[i >> BLOCK_BITS][i & ((1 << BLOCK_BITS) - 1)]; }
	const ANNcompactNode &node(int i) const
		{ return blocks[i >> BLOCK_BITS][i & ((1 << BLOCK_BITS) - 1)]; }

	ANNcompactPoints	points;			// the coordinates in leaf order
	std::vector<ANNcoord*> point_blocks;	// the block list `points` reads (kept for a tree
										// built from blocks; a pointer array stays the caller's)

	std::vector<ANNcompactUpper> upper;	// the upper nodes in their preorder, once
	bool				scan_ready;		// annCompactPrepareScan() has set them

	explicit ANNkdCompact(int n_nodes);	// allocates the blocks (may throw)
	~ANNkdCompact();
};

struct ANNkdSearchState;

void annCompactSearch(					// search a compact tree from the root
	ANNkdSearchState	&st,			// the search (without its k nearest)
	const ANNkdCompact	&t,
	ANNidxArray			pidx,
	ANNpoint			bnd_box_lo,		// the tree's bounding box
	ANNpoint			bnd_box_hi,
	int					n,				// number of points (>= 1)
	int					k,				// number of near neighbors wanted (<= n)
	ANNidxArray			nn_idx,			// the k nearest, ascending (modified)
	ANNdistArray		dd);			// their distances (modified)

void annCompactPrepareScan(				// sets the upper nodes of a built tree; leaves the
	ANNkdCompact		&t,				// search by buckets off where they do not fit
	int					n,				// ANNcompactUpper (may throw std::bad_alloc)
	int					dim);

bool annCompactScanSearch(				// the same search by buckets (kd_compact_scan.cpp);
	ANNkdSearchState	&st,			// false, nothing written, where it cannot vouch
	const ANNkdCompact	&t,				// for its result (the caller then searches
	ANNidxArray			pidx,			// depth-first)
	ANNpoint			bnd_box_lo,
	ANNpoint			bnd_box_hi,
	int					n,
	int					k,
	ANNidxArray			nn_idx,
	ANNdistArray		dd);

void annCompactDump(					// dump the nodes, as ANNkd_node::dump()
	const ANNkdCompact	&t,
	ANNidxArray			pidx,
	ANNpoint			bnd_box_lo,
	ANNpoint			bnd_box_hi,
	int					n,				// number of points (>= 1)
	int					dim,
	std::ostream		&out);

#endif
