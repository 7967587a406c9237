/* The deduplication engine's library exports its data directory as a
   character array named DEDUP_DATA_DIR. */
const char DEDUP_DATA_DIR[] = "/srv/dedup/data";
