/* The deduplication engine's library exports its data directory as a
   character array named DEDUP_DATA_DIR. */
#ifndef FAKE_DEDUP_DATA_DIR
#define FAKE_DEDUP_DATA_DIR "/srv/dedup/data"
#endif
const char DEDUP_DATA_DIR[] = FAKE_DEDUP_DATA_DIR;
