// The pool record: loading a pool row through the row printer, the lookups
// of its devices and relations, and the pseudo-columns of pool rows.
#include "storaged/storage_catalog/storage_pool.h"

#include <gtest/gtest.h>

#include "platform/sql/cursor.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/storage_pool_result_handler.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using database::sql::Binding_Value;
using database::sql::Connection_Ptr;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::Update_SQL;

namespace {

// Collects a row's top-level columns as JSON.
class Row_Printer : public database::sql::Query_Result_Token_Printer {
 public:
  int print_int(int, const char* name, long long value) override {
    row[name] = value;
    return 1;
  }
  int print_null(int, const char* name) override {
    row[name] = nullptr;
    return 1;
  }
  int print_cstr(int, const char* name, const char* text, unsigned long long length) override {
    row[name] = std::string(text, length);
    return 1;
  }
  int print_json(int, const char* name, const Value& value) override {
    row[name] = value;
    return 1;
  }
  Object row;
};

class Exposed_Handler : public SCAT::Storage_Pool_Result_Handler {
 public:
  using SCAT::Storage_Pool_Result_Handler::handle_binary_i;
};

class Storage_Pool_Record : public Catalog_Back_End_Test {
 protected:
  Connection_Ptr conn() { return impl_->get_connection(); }

  void add_device(const std::string& uuid, const Value& attrs, const std::string& pool = u(0xB00)) {
    Object device{{"uuid", uuid}, {"url", "file:///d/" + uuid}, {"pool_uuid", pool}};
    if (!attrs.is_null())
      device["extended_attrs"] = attrs;
    ASSERT_TRUE(impl_->add_device(device)) << log_.dump();
  }

  void set_pool_column(const std::string& pool, const std::string& column,
                       const Binding_Value& value) {
    Update_SQL update;
    update.table("storage_catalog_storage_pool").set(column, value);
    update.where().and_filter()->add_sql("uuid=:uuid");
    ASSERT_TRUE(update.bind_uuid("uuid", pool));
    ASSERT_TRUE(conn()->execute(update)) << log_.dump();
  }

  void SetUp() override {
    Catalog_Back_End_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    Object pool{{"uuid", u(0xB00)},
                {"name", "pool b"},
                {"high_water_mark", 90},
                {"retention_days", 7},
                {"quoted", 2},
                {"state", "normal"},
                {"extended_attrs", Object{{"multidevice", true}, {"tag", "x"}}}};
    ASSERT_TRUE(impl_->add_pool(pool)) << log_.dump();
  }
};

TEST_P(Storage_Pool_Record, LoadsThePoolRowIntoTheRecord) {
  SCAT::Storage_Pool pool;
  ASSERT_EQ(pool.load(conn(), u(0xB00)), 1) << log_.dump();
  Object out{{"kept", 1}, {"name", "replaced"}};
  EXPECT_TRUE(pool.to_json(out));
  EXPECT_EQ(Value(out),
            Value(Object{{"kept", 1},
                         {"uuid", u(0xB00)},
                         {"name", "pool b"},
                         {"state", "normal"},
                         {"high_water_mark", 90},
                         {"quoted", 2},
                         {"on_host", 1},
                         {"retention_days", 7},
                         {"extended_attrs", Object{{"multidevice", true}, {"tag", "x"}}}}));
  EXPECT_EQ(pool.id(), 0);  // the loader does not select it
  EXPECT_TRUE(pool.multidevice());
  EXPECT_FALSE(pool.is_replicate_target(conn()));

  set_pool_column(u(0xB00), "on_host", Binding_Value(0));
  SCAT::Storage_Pool target;
  ASSERT_EQ(target.load(conn(), u(0xB00)), 1);
  EXPECT_TRUE(target.is_replicate_target(conn()));

  SCAT::Storage_Pool missing;
  EXPECT_EQ(missing.load(conn(), u(0xBBB)), 0);
  EXPECT_EQ(missing.load(conn(), "not a uuid"), 0);
  EXPECT_FALSE(missing.is_replicate_target(conn()));  // a record never loaded
  EXPECT_EQ(missing.load(Connection_Ptr(), u(0xB00)), -1);
}

TEST_P(Storage_Pool_Record, TakesOnlyTopLevelColumnsAndObjectAttributes) {
  set_pool_column(u(0xB00), "extended_attrs", Binding_Value("[1, 2]"));
  SCAT::Storage_Pool pool;
  ASSERT_EQ(pool.load(conn(), u(0xB00)), 1);
  EXPECT_TRUE(pool.extended_attrs().empty());

  EXPECT_EQ(pool.start_map(0, "nested"), 1);
  EXPECT_EQ(pool.print_int(0, "retention_days", 99), 0);
  EXPECT_EQ(pool.print_cstr(0, "name", "inner", 5), 0);
  EXPECT_EQ(pool.end_map(), 1);
  EXPECT_EQ(pool.retention_days(), 7);
  EXPECT_EQ(pool.print_int(0, "retention_days", 99), 1);
  EXPECT_EQ(pool.retention_days(), 99);
  EXPECT_EQ(pool.print_int(0, "id", 12), 1);
  EXPECT_EQ(pool.id(), 12);
  EXPECT_EQ(pool.print_int(0, nullptr, 1), 0);
  EXPECT_EQ(pool.print_cstr(0, "", "x", 1), 0);
  EXPECT_EQ(pool.print_cstr(0, "other", "x", 1), 0);
  EXPECT_EQ(pool.print_json(0, "extended_attrs", Value("text")), 0);
  EXPECT_EQ(pool.print_json(0, "extended_attrs", Value(Object{{"multidevice", "true"}})), 1);
  EXPECT_FALSE(pool.multidevice());  // a string is not a bool
}

TEST_P(Storage_Pool_Record, FindsDevicesMasterAndReplicateTargets) {
  SCAT::Storage_Pool pool;
  ASSERT_EQ(pool.load(conn(), u(0xB00)), 1);
  Array devices{Value("kept")};
  ASSERT_TRUE(pool.get_devices(conn(), devices));
  EXPECT_TRUE(devices.empty());  // no devices yet

  add_device(u(0xD01), Object{{"role", "slave"}});
  add_device(u(0xD02), Value());
  add_device(u(0xD03), Object{{"role", "master"}}, u(0xA00));  // another pool's
  ASSERT_TRUE(pool.get_devices(conn(), devices));
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]["uuid"], u(0xD01));
  EXPECT_EQ(devices[0]["pool_uuid"], u(0xB00));
  EXPECT_EQ(devices[0]["extended_attrs"], Value(Object{{"role", "slave"}}));
  Object master;
  ASSERT_TRUE(SCAT::Storage_Pool::get_master_device(devices, master));
  EXPECT_EQ(master["uuid"], u(0xD02));  // no role is the master

  Array others{Object{{"uuid", "1"}, {"extended_attrs", Object{{"role", "slave"}}}},
               Object{{"uuid", "2"}, {"extended_attrs", Object{{"role", "mirror"}}}}};
  ASSERT_TRUE(SCAT::Storage_Pool::get_master_device(others, master));
  EXPECT_EQ(master["uuid"], "1");
  EXPECT_TRUE(log_.contains("Unknown device role: "));
  Object untouched{{"kept", true}};
  EXPECT_FALSE(SCAT::Storage_Pool::get_master_device(Array(), untouched));
  EXPECT_FALSE(SCAT::Storage_Pool::get_master_device(
      Array{Value(7), Object{{"extended_attrs", Object{{"role", "slave"}}}}}, untouched));
  EXPECT_EQ(Value(untouched), Value(Object{{"kept", true}}));

  EXPECT_EQ(pool.get_external_id(Object{{"extended_attrs", Object{{"external_uuid", "e1"}}}}),
            "e1");
  EXPECT_EQ(pool.get_external_id(Object{{"extended_attrs", "e1"}}), "");

  ASSERT_TRUE(impl_->add_replicate(Object{{"uuid", u(0xC01)},
                                          {"source_uuid", u(0xB00)},
                                          {"target_uuid", u(0xA00)},
                                          {"extended_attrs", Object{{"mode", "sync"}}}}))
      << log_.dump();
  Array targets;
  ASSERT_TRUE(pool.get_replicate_target(conn(), targets));
  EXPECT_EQ(Value(targets), Value(Array{Object{{"target_uuid", u(0xA00)},
                                               {"extended_attrs", Object{{"mode", "sync"}}}}}));
}

TEST_P(Storage_Pool_Record, StoresItsExtendedAttributes) {
  SCAT::Storage_Pool pool;
  ASSERT_EQ(pool.load(conn(), u(0xB00)), 1);
  pool.extended_attrs()["dedup_redundancy"] = 3;
  ASSERT_TRUE(pool.update_extended_attrs(conn())) << log_.dump();
  SCAT::Storage_Pool again;
  ASSERT_EQ(again.load(conn(), u(0xB00)), 1);
  EXPECT_EQ(again.extended_attrs().at("dedup_redundancy"), 3);
  EXPECT_EQ(again.extended_attrs().at("tag"), "x");
}

TEST_P(Storage_Pool_Record, ResultHandlerExpandsThePseudoColumns) {
  add_device(u(0xD01), Object{{"role", "master"}});
  ASSERT_TRUE(impl_->add_replicate(
      Object{{"uuid", u(0xC01)}, {"source_uuid", u(0xB00)}, {"target_uuid", u(0xA00)}}));
  Select_SQL read;
  read.table("storage_catalog_storage_pool", "p");
  for (const char* pseudo : {"storages", "replicate_source", "replicate_target", "usage"})
    read.add_key(pseudo, "p.uuid");
  read.add_key("name", "p.name");
  read.add_key("uuid", "p.uuid");
  read.where().and_filter()->add_sql("p.uuid=:uuid");
  ASSERT_TRUE(read.bind_uuid("uuid", u(0xB00)));
  SCAT::Storage_Pool_Result_Handler handler;
  Legacy_Cursor cursor(conn(), read, Legacy_Cursor::COLUMNS, 0);
  cursor.result_handler(&handler);
  ASSERT_TRUE(cursor.fetch()) << log_.dump();
  Row_Printer printer;
  ASSERT_TRUE(cursor >> printer);
  Object& row = printer.row;
  EXPECT_EQ(row["name"], "pool b");
  EXPECT_EQ(row["uuid"], u(0xB00));
  EXPECT_EQ(row["storages"], Value(Array{Object{{"uuid", u(0xD01)},
                                                {"url", "file:///d/" + u(0xD01)},
                                                {"extended_attrs", Object{{"role", "master"}}}}}));
  EXPECT_EQ(row["replicate_target"], Value(Array{Object{{"target_uuid", u(0xA00)}}}));
  EXPECT_EQ(row["replicate_source"], Value(Array()));
  ASSERT_TRUE(row["usage"].is_object());
  EXPECT_EQ(row["usage"]["pool_uuid"], u(0xB00));
  EXPECT_EQ(row["usage"]["catalog_size"], 0);

  Exposed_Handler exposed;
  Row_Printer ignored;
  const unsigned char bytes[16] = {0};
  EXPECT_EQ(exposed.handle_binary_i(*conn(), 0, "other", bytes, 16, ignored), 0);
  EXPECT_EQ(exposed.handle_binary_i(*conn(), 0, "", bytes, 16, ignored), 0);
  EXPECT_TRUE(ignored.row.empty());
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  EXPECT_TRUE(log_.contains(", name is NULL or \"\":"));
}

SCAT_INSTANTIATE_ENGINES(Storage_Pool_Record);

}  // namespace
