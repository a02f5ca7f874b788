//----------------------------------------------------------------------
// File:			kd_compact_split.h
// Description:		One search of a compact tree split over threads
//----------------------------------------------------------------------
//	A search by buckets (kd_compact_scan.cpp) can be split into parts
//	that the caller's threads search at once, with the same answer.
//	The caller owns the threads: it hands the search a runner for the
//	searches of the calling thread only (a thread that sets none, such
//	as one searching ahead, searches whole).
//----------------------------------------------------------------------
#ifndef ANN_kd_compact_split_H
#define ANN_kd_compact_split_H

// Calls job(context, worker) once for every worker in [0, workers), at once on as many threads
// as it has (the calling thread among them), and returns when every call has returned. A job
// never throws.
typedef void (*ANNcompactJob)(void *context, int worker);
typedef void (*ANNcompactRunner)(int workers, ANNcompactJob job, void *context);

// Sets the calling thread's runner and its number of workers (at least 2) for its later
// searches; a null runner (the default) leaves them whole.
void annCompactSetSplit(ANNcompactRunner runner, int workers);

#endif
