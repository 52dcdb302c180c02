-- The tracking server's tables as this program uses them, with their first rows.
-- Load into an empty database created with CHARACTER SET utf8mb4.

CREATE TABLE users (
    id INT NOT NULL AUTO_INCREMENT,
    user_login VARCHAR(255) CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin NOT NULL,
    user_password VARBINARY(64) NOT NULL,
    PRIMARY KEY (id),
    UNIQUE KEY uq_users_login (user_login)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE devices (
    id INT NOT NULL AUTO_INCREMENT,
    imei BIGINT UNSIGNED NOT NULL,
    name VARCHAR(255) CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin NOT NULL DEFAULT '',
    for_all TINYINT(1) NOT NULL DEFAULT 0,
    PRIMARY KEY (id),
    UNIQUE KEY uq_devices_imei (imei)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE groups_list (
    id INT NOT NULL AUTO_INCREMENT,
    group_name VARCHAR(255) CHARACTER SET utf8mb4 COLLATE utf8mb4_nopad_bin NOT NULL,
    PRIMARY KEY (id),
    UNIQUE KEY uq_groups_name (group_name)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE device_groups (
    device_id INT NOT NULL,
    group_id INT NOT NULL,
    PRIMARY KEY (device_id, group_id),
    KEY ix_device_groups_group (group_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE user_groups (
    user_id INT NOT NULL,
    group_id INT NOT NULL,
    PRIMARY KEY (user_id, group_id),
    KEY ix_user_groups_group (group_id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO groups_list (id, group_name) VALUES (1, 'Admin');

-- root's default password "vexo", salted and hashed with SHA3-512
INSERT INTO users (id, user_login, user_password) VALUES (1, 'root',
    X'd4e918dff88104ed14e12a4648f0814fac9c85e261f74e55b647d37d4d3631bb4c64e626866909c50628c8a24e95ba24dcc75d0e0f9e32b5bec472f6def9d071');

INSERT INTO user_groups (user_id, group_id) VALUES (1, 1);
